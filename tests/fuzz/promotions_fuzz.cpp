// Fuzz target for the platform's list answers: any bytes as the promotion answer (every
// promotion read or refused, the shape tests, and the document written back and read again,
// see promotion_document_check.h) and as a resend request list (resend_list_check.h). Built by
// `bash scripts/fuzz` (CMake option ZV_FUZZ).

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/promotion_document_check.h"
#include "fuzz/resend_list_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string problem =
      zv::fuzz::CheckPromotionDocument(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!problem.empty()) {
    std::fprintf(stderr, "promotion document property broken: %s\n", problem.c_str());
    std::abort();
  }
  const std::string list_problem =
      zv::fuzz::CheckResendRequestList(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!list_problem.empty()) {
    std::fprintf(stderr, "resend request list property broken: %s\n", list_problem.c_str());
    std::abort();
  }
  return 0;
}
