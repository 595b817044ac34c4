#include "store/fb_attach.h"
#include "base/text.h"

#include <ibase.h>

#include <algorithm>
#include <cctype>
#include <cstdint>

#include "base/errors.h"

namespace zv {

namespace {

constexpr int32_t kConnectTimeoutSeconds = 15;

// Whether s is well-formed UTF-8.
bool IsValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t extra;
    uint32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= s.size()) return false;
    for (size_t k = 1; k <= extra; ++k) {
      const auto cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += extra + 1;
  }
  return true;
}

void AddString(std::string& dpb, unsigned char tag, const std::string& value) {
  if (value.size() > 255) throw EDatabaseError("A connection parameter is longer than 255 bytes");
  dpb += static_cast<char>(tag);
  dpb += static_cast<char>(value.size());
  dpb += value;
}

void AddInt(std::string& dpb, unsigned char tag, int32_t value) {
  dpb += static_cast<char>(tag);
  dpb += static_cast<char>(4);
  const auto u = static_cast<uint32_t>(value);
  for (int shift = 0; shift < 32; shift += 8) dpb += static_cast<char>((u >> shift) & 0xFF);
}

}  // namespace

FbAttachRequest BuildAttachRequest(const TStoreConnection& conn) {
  const std::string server = conn.ParamValue("Server");
  const std::string port = conn.ParamValue("Port");
  const std::string database = conn.ParamValue("Database");
  const std::string protocol = conn.ParamValue("Protocol");
  const std::string dialect_text = conn.ParamValue("SQLDialect");
  if (database.empty()) throw EDatabaseError("No database path given for the store connection");

  FbAttachRequest r;
  r.target = database;
  if (protocol.empty() || EqualsIgnoreAsciiCase(protocol, "TCPIP") || !server.empty()) {
    r.target = server.empty() ? std::string("localhost") : server;
    if (!port.empty()) r.target += "/" + port;
    r.target += ":" + database;
  }

  r.dpb += static_cast<char>(isc_dpb_version1);
  AddString(r.dpb, isc_dpb_user_name, conn.ParamValue("User_Name"));
  AddString(r.dpb, isc_dpb_password, conn.ParamValue("Password"));
  AddInt(r.dpb, isc_dpb_sql_dialect, dialect_text.empty() ? 3 : std::atoi(dialect_text.c_str()));
  AddInt(r.dpb, isc_dpb_connect_timeout, kConnectTimeoutSeconds);
  // A connection character set is only sent when one is configured: without it the server
  // hands text over as stored (Windows-1252 bytes).
  const std::string charset = conn.ParamValue("CharacterSet");
  if (!charset.empty()) AddString(r.dpb, isc_dpb_lc_ctype, charset);
  // The path is UTF-8 here. Without this flag the Windows client takes it for the ANSI code
  // page and converts it once more, so a store under "Farmácia" would not be found.
  if (IsValidUtf8(r.target)) {
    r.dpb += static_cast<char>(isc_dpb_utf8_filename);
    r.dpb += static_cast<char>(0);
  }
  return r;
}

}  // namespace zv
