// The sub-codes of the table drivers' errors. Their subsystem is the driver's name
// ("DBF", "DBFFPT", "DBFNTX", and "SDF" for text files); the drivers share one
// numbering. Area::raise_error (table/area.h) raises them, and so do the files beneath
// a driver: the index file and its build, the text reader.
#pragma once

namespace lum {

enum DriverSubcode : int {
  kUnsupportedOperation = 1000,  // an operation the driver does not have (an order)
  kOpenError = 1001,             // the table, text or index file cannot be opened
  kMemoOpenError = 1002,         // the memo file cannot be opened
  kTextCreateError = 1004,       // the text file of COPY TO cannot be created
  kIndexCreateError = 1006,      // the index file cannot be created
  kReadError = 1010,             // a short read
  kWriteError = 1011,            // a short write
  kCorruption = 1012,            // a header or page that cannot be right; a tree too deep
  kFieldType = 1020,             // a value of the wrong kind for its field; a memo the
                                 // driver cannot read
  kFieldWidth = 1021,            // a number too wide for its field
  kLockRequired = 1022,          // a change to a shared table without its lock
  kExclusiveRequired = 1023,     // emptying a shared table
  kAppendLockFailed = 1024,      // the append lock of a shared table cannot be had
  kReadOnly = 1025,              // a change to a table opened read-only, or to a text
  kKeyKind = 1026,               // an index key of a kind or width that cannot be a key
  kLockFailure = 1038,           // a record another opener of a shared table holds
  kUnknownMemoKind = 1056,       // a memo file of a kind the driver does not know
  kSortCreateError = 1060,       // the index build's temporary file cannot be created
  kSortWriteError = 1061,        // ... or written
  kNotIndexed = 1201,            // a seek without a controlling order
};

}  // namespace lum
