#pragma once
// Row decoding: one column of a fetched output message into a value of the program, with
// the connection's text rules (trailing blanks trimmed, empty as NULL, Windows-1252 to
// UTF-8). Only blobs need the server; they are read through the given reader.

#include <firebird/Interface.h>

#include <functional>
#include <string>

#include "store/fb_binding.h"

namespace zv {

struct FbColumn {
  std::string name;  // the alias, or the field name when there is none
  FbDesc desc;
  unsigned offset = 0;
  unsigned null_offset = 0;
};

using FbBlobReader = std::function<std::string(const ISC_QUAD& id)>;

// A scaled integer becomes Money; one beyond the Money range its exact decimal text, so that
// the row stays readable and AsMoney raises where the value is used. date_only is set for a
// DATE column. Throws EDatabaseError for a type this service cannot read.
TStoreField::Value DecodeColumn(const FbColumn& column, const unsigned char* message,
                                const FbTextRules& rules, const FbBlobReader& read_blob,
                                bool& date_only);

}  // namespace zv
