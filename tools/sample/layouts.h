// The structures of the tables the generator writes: the six staging tables (one C
// field per field of the exported text record, in record order, at text width) and the
// five target tables under lum/firma1. The enums name the fields of each staging record
// in order, so that the line builders address a field by its number.
// Used by the generator's own files only.
#pragma once

#include <array>
#include <string_view>

#include "tools/sample/dataset.h"
#include "tools/sample/dbf_builder.h"

namespace lum::sample {

enum SupplierField {
  kSupCodigo,
  kSupRazao,
  kSupFant,
  kSupEnd,
  kSupBairro,
  kSupCep,
  kSupCidade,
  kSupEstado,
  kSupFone1,
  kSupFone2,
  kSupFax,
  kSupContato,
  kSupCnpj,
  kSupInsest,
  kSupLivre
};

enum PayableField {
  kPagNumero,
  kPagCli,
  kPagEmissao,
  kPagVencto,
  kPagTexto3,
  kPagHistor,
  kPagLivre,
  kPagLivre2,
  kPagLivre3,
  kPagLivre4,
  kPagLivre5
};

enum ProductField {
  kPrdCodigo,
  kPrdDescri,
  kPrdLivre21,
  kPrdLivre22,
  kPrdRefer,
  kPrdUnidad,
  kPrdObs,
  kPrdNomelv,
  kPrdLivre
};

enum BalanceField {
  kSalReg,
  kSalCodigo,
  kSalLivre,
  kSalLivre2,
  kSalLivre3,
  kSalLivre4,
  kSalLivre5
};

enum ClientField {
  kCliCodigo,
  kCliNome,
  kCliFant,
  kCliCpf,
  kCliEnd,
  kCliBairro,
  kCliCidade,
  kCliEstado,
  kCliCep,
  kCliCnpj,
  kCliInsest,
  kCliProfis,
  kCliFone,
  kCliFax,
  kCliCel,
  kCliConceito,
  kCliNomema,
  kCliNomepa,
  kCliEmail,
  kCliDtcad,
  kCliLivre
};

enum ReceivableField {
  kRecNumero,
  kRecCli,
  kRecEmissao,
  kRecVecto,
  kRecLivre,
  kRecTexto3,
  kRecLivre2,
  kRecLivre3,
  kRecLivre4,
  kRecLivre5
};

// The staging tables, indexed by TextSet.
std::array<TableDef, kTextSetCount> staging_tables();
// The target tables, indexed by Target, shaped by the options (item fields, code and
// amount widths).
std::array<TableDef, kTargetCount> target_tables(const DatasetOptions& options);

// Names of tables, fields and files compare without regard to letter case.
bool same_name_any_case(std::string_view a, std::string_view b);

// The DBF builder's description of a table: its fields, version, memo kind and block
// size, and the date of last update the generator writes (2014-06-30).
DbfLayout dbf_layout(const TableDef& d);

}  // namespace lum::sample
