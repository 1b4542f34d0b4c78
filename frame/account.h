// The run's account to the operator on standard error, once the run has ended and every
// table is closed: after an error or an interrupt, which files the run changed (each
// table with the records it now holds) and that every other table is as it was; after
// a normal run, the text files whose lines do not all have their staging record's
// length, and the notes the program left (that there was nothing to convert). A normal
// run with nothing to report says nothing.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lum {

// Leaves a line for the operator, written after a normal run ("nothing to convert").
void add_operator_note(std::string note);

// What the account says of the run's undo snapshot.
struct UndoNote {
  std::string folder;            // the snapshot's folder; "" when the run took none
  std::string command_switches;  // the run's switches that --undo needs (" //DRIVE:...")
};

// The account's text ("" when there is none); each statement starts with "<program>: ",
// the list of changed files below it is indented.
// `ended_by_error` and `interrupted` as the run ended.
// `destination_tables` as indexes_to_rebuild takes them.
std::string run_account(std::string_view program, bool ended_by_error, bool interrupted,
                        const UndoNote& undo = {},
                        const std::vector<std::string>& destination_tables = {});

// The index files that lie beside the destination's tables that the run changed (any
// .ntx, .cdx, .idx, .mdx or .ndx in the directory of a table of `destination_tables`,
// as the program names them) and that the run did not write itself, by host path: the
// destination system's own indexes, which no longer match their tables and must be
// rebuilt there. The run's staging tables and its own index files are not the
// destination's. Read only; nothing is opened.
std::vector<std::string> indexes_to_rebuild(const std::vector<std::string>& destination_tables);
// The account's (and the dry run's) lines that name them, "" when there are none.
std::string indexes_to_rebuild_text(const std::vector<std::string>& indexes, bool dry_run);

// The files the run changed (changed_files()), without the undo snapshot's own.
std::vector<std::string> run_changed_files();

// The name an operator knows a host file by, in the system's own form with the file's
// spelling on disk: the bare name for a file of the working directory, else "\" and its
// path below the drive root ("\lum\firma1\Clientes.DBF"), else its path relative to the
// working directory when it lies below it, else the host path itself.
std::string operator_file_name(const std::string& host_path);

// A one-line description of a changed file: a table's record count ("table, now 20
// records", or after a dry run "table, 20 records after the run"), or what kind of file
// it is (memo file, index); "" when the file is gone.
std::string changed_file_note(const std::string& host_path, bool dry_run);

}  // namespace lum
