// Replays the promotion fuzz corpus (seeds and past findings) and the fake platform's sample
// documents through the properties the fuzz target checks, so every finding stays fixed in the
// normal suite and under the sanitizers; and checks that the samples hold what they are for.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "fuzz/promotion_document_check.h"
#include "fuzz/resend_list_check.h"
#include "promotions/promo_model.h"

namespace zv {
namespace {

namespace fs = std::filesystem;

const fs::path kRepo = fs::path(__FILE__).parent_path().parent_path().parent_path();
const fs::path kSamples = kRepo / "tools" / "fake-platform" / "samples";

std::string ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<fs::path> FilesIn(const fs::path& dir, const std::string& extension = "") {
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(dir)) {
    if (!e.is_regular_file()) continue;
    if (!extension.empty() && e.path().extension() != extension) continue;
    if (e.path().filename() == "README.md") continue;
    files.push_back(e.path());
  }
  return files;
}

TEST(PromotionCorpus, EveryInputKeepsTheDocumentProperties) {
  const fs::path corpus = kRepo / "tests" / "corpus" / "promotions";
  size_t seeds = 0;
  std::vector<fs::path> all;
  for (const char* dir : {"seeds", "findings"}) {
    for (const fs::path& p : FilesIn(corpus / dir)) {
      all.push_back(p);
      seeds += std::string(dir) == "seeds";
    }
  }
  for (const fs::path& p : FilesIn(kSamples, ".json")) all.push_back(p);
  ASSERT_GT(seeds, 10u) << "corpus not found under " << corpus;
  for (const fs::path& p : all) {
    EXPECT_EQ(fuzz::CheckPromotionDocument(ReadBytes(p)), "") << p;
    // The fuzz target feeds the same bytes to the resend request list reader.
    EXPECT_EQ(fuzz::CheckResendRequestList(ReadBytes(p)), "") << p;
  }
}

TEST(PromotionCorpus, AcceptedSampleCoversEveryTypeAndPath) {
  TRoot root;
  root.SetAsJson(ReadBytes(kSamples / "promotions-accepted.json"));
  std::set<std::string> types;
  bool payment_path = false, basket_path = false, plain_path = false, no_path = false;
  std::set<int32_t> payment_codes;
  for (const PromotionEntry& entry : root.Results()) {
    ASSERT_TRUE(entry.Readable()) << entry.Position() << ": " << entry.ErrorMessage();
    const TResults& p = entry.Promotion();
    const PromotionShape s = ShapeOf(p);
    types.insert(p.Tipo());
    const bool basket_type = p.Tipo() == "ADICIONAL_DESCUENTO" || p.Tipo() == "ADICIONAL_REGALO";
    const bool basket = s.has_benefits && basket_type && s.has_condition_items;
    payment_path |= s.has_payment_methods;
    basket_path |= basket;
    plain_path |= !s.has_benefits && !s.has_payment_methods;
    no_path |= !basket && s.has_benefits && !s.has_payment_methods;
    if (s.has_payment_methods) {
      for (const TFormasPago& f : p.Detalles()->Condiciones()->FormasPago()) {
        if (!f.Bines().empty()) payment_codes.insert(f.CodigoTipoPago());
      }
    }
  }
  for (const char* t : {"DESCUENTO_VARIABLE", "PRECIO_FIJO", "DESCUENTO_FIJO", "LLEVA_PAGA",
                        "ADICIONAL_DESCUENTO", "ADICIONAL_REGALO"}) {
    EXPECT_TRUE(types.count(t)) << t;
  }
  EXPECT_GT(types.size(), 6u) << "no promotion of an unknown type";
  EXPECT_TRUE(payment_path && basket_path && plain_path && no_path);
  EXPECT_EQ(payment_codes, (std::set<int32_t>{10, 13, 20}));
}

TEST(PromotionCorpus, RefusalSampleRefusesExactlyTheBrokenOnes) {
  TRoot root;
  root.SetAsJson(ReadBytes(kSamples / "promotions-accepted-refusals.json"));
  std::vector<int> refused;
  for (const PromotionEntry& entry : root.Results()) {
    if (!entry.Readable()) refused.push_back(entry.Position());
  }
  // The samples' README lists what each promotion is; the readable ones after the unreadable
  // are refused by the import for what they lack.
  EXPECT_EQ(refused, (std::vector<int>{2, 3, 4, 5, 6}));
  ASSERT_EQ(root.Results().size(), 12u);
  const auto& r = root.Results();
  EXPECT_EQ(r[1].Id(), std::nullopt);
  EXPECT_EQ(r[2].Id(), 2003);
  EXPECT_FALSE(r[7].Promotion().Detalles()->HasPrecio());
  EXPECT_FALSE(r[8].Promotion().Detalles()->HasPaga());
  EXPECT_FALSE(r[9].Promotion().HasId());
  EXPECT_EQ(r[6].Promotion().Detalles()->Condiciones()->Items().size(), 3u);
  EXPECT_EQ(r[6].Promotion().Detalles()->Beneficios()->Items().size(), 2u);
}

}  // namespace
}  // namespace zv
