#pragma once
// What every input to the promotion document must keep, whatever its bytes: shared by the fuzz
// target and by the unit test that replays the corpus.
//
// - assigning it raises nothing but the conversion error of a bare value or a broken document
//   member, and every promotion ends up read or refused with a kind and a one-line message;
// - a refused promotion raises its error again when asked for, a read one passes the shape tests'
//   implications;
// - the document written back is JSON, and reading it again gives the same document, the same
//   promotions and the same refusals.

#include <string>
#include <string_view>

#include "base/errors.h"
#include "platform/json_helpers.h"
#include "promotions/promo_model.h"

namespace zv::fuzz {

inline bool OneLine(const std::string& s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) < 0x20) return false;
  }
  return true;
}

// "" when the input keeps every property, else what it broke.
inline std::string CheckPromotionDocument(std::string_view bytes) {
  TRoot root;
  try {
    root.SetAsJson(bytes);
  } catch (const EConversionError& e) {
    if (!OneLine(e.what())) return std::string("document error is not one line: ") + e.what();
  }
  for (const PromotionEntry& entry : root.Results()) {
    if (entry.Readable()) {
      const PromotionShape s = ShapeOf(entry.Promotion());
      if ((s.has_benefits && !s.has_details) || (s.has_benefit_items && !s.has_benefits) ||
          (s.has_conditions && !s.has_details) || (s.has_condition_items && !s.has_conditions) ||
          (s.has_payment_methods && !s.has_conditions)) {
        return "shape tests contradict each other at #" + std::to_string(entry.Position());
      }
      if (!entry.ErrorKind().empty()) return "readable promotion with an error";
      continue;
    }
    if (entry.ErrorKind() != "EConversionError" || entry.ErrorMessage().empty() ||
        !OneLine(entry.ErrorMessage())) {
      return "refusal without a proper error: " + entry.ErrorKind() + " " + entry.ErrorMessage();
    }
    try {
      (void)entry.Promotion();
      return "refused promotion handed out";
    } catch (const EConversionError& e) {
      if (e.what() != entry.ErrorMessage()) return "refusal raised another message";
    }
  }

  const std::string written = root.AsJson();
  if (!ParseJson(written)) return "written document is not JSON: " + written;
  TRoot again;
  try {
    again.SetAsJson(written);
  } catch (const Exception& e) {
    return std::string("written document does not read: ") + e.what();
  }
  if (again.AsJson() != written)
    return "read-write-read differs:\n" + written + "\n" + again.AsJson();
  if (again.Results().size() != root.Results().size()) return "promotion count differs";
  for (size_t i = 0; i < root.Results().size(); ++i) {
    const PromotionEntry& a = root.Results()[i];
    const PromotionEntry& b = again.Results()[i];
    if (a.Readable() != b.Readable() || a.ErrorMessage() != b.ErrorMessage() ||
        a.Position() != b.Position() || a.Id() != b.Id()) {
      return "promotion #" + std::to_string(a.Position()) + " reads otherwise when written back";
    }
    if (a.Readable() && ShapeOf(a.Promotion()) != ShapeOf(b.Promotion())) {
      return "promotion #" + std::to_string(a.Position()) + " changes shape when written back";
    }
  }
  return std::string();
}

}  // namespace zv::fuzz
