#pragma once
// What an attach hands the Firebird client: the connection string and the database
// parameter block, built from the connection's parameter list without the client library,
// so that they can be checked without a server.

#include <string>

#include "store/store_query.h"

namespace zv {

struct FbAttachRequest {
  // host/port:path over TCP/IP; the path alone for a local attach.
  std::string target;
  // The database parameter block (isc_dpb_version1 clumplets).
  std::string dpb;
};

// Reads Server, Port, Database, Protocol, User_Name, Password, SQLDialect and CharacterSet.
// Throws EDatabaseError when no database path is given or a value is too long for the block.
FbAttachRequest BuildAttachRequest(const TStoreConnection& conn);

}  // namespace zv
