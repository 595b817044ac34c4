// Peak memory of the platform answer readers: each answer (up to the 32 MiB the client accepts)
// is built and read in a child process of its own, and the child's peak resident set is
// printed beside what the reader made of it. The first line is the answer text alone, the
// floor every other line stands on.
//
//   answer_memory_bench            (Linux; prints a table, never fails)

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "base/errors.h"
#include "platform/json_helpers.h"
#include "platform/zentrovia_client.h"
#include "promotions/promo_model.h"
#include "promotions/promotion_pass.h"

namespace {

constexpr size_t kCap = 32u << 20;

// `head` + as many `element`s (comma separated) as fit under the cap with `tail`, or `count`.
std::string Repeat(const std::string& head, const std::string& element, const std::string& tail,
                   size_t count = SIZE_MAX) {
  std::string out = head;
  out.reserve(kCap);
  for (size_t i = 0; i < count && out.size() + element.size() + 1 + tail.size() <= kCap; ++i) {
    if (i) out += ',';
    out += element;
  }
  out += tail;
  return out;
}

std::string ReadPromotions(std::string& body) {
  zv::TZentrovRetornos answer;
  answer.code_retorno = "200";
  answer.json_retorno = std::move(body);
  zv::TRoot root;
  try {
    zv::ReadPromotionAnswer(answer, root);
  } catch (const zv::Exception& e) {
    return std::string("refused: ") + e.what();
  }
  size_t readable = 0;
  for (const zv::PromotionEntry& e : root.Results()) readable += e.Readable();
  return std::to_string(root.Results().size()) + " promotions, " + std::to_string(readable) +
         " readable";
}

std::string ReadResendList(std::string& body) {
  try {
    const std::optional<zv::JsonValue> list = zv::ParseJsonAnswer(body, "resend request list");
    if (!list) return "not JSON";
    return std::to_string(zv::BoundedItems(*list, zv::kMaxResendRequests, "list").size()) +
           " requests";
  } catch (const zv::Exception& e) {
    return std::string("refused: ") + e.what();
  }
}

struct Case {
  const char* name;
  std::function<std::string()> body;
  // May take the text over, as the reader takes over the client's answer.
  std::function<std::string(std::string&)> read;
};

}  // namespace

int main() {
  const std::string article = R"({"codigoBarras":"7890000000001"})";
  std::string promotion_450 = R"({"id":1,"tipo":"DESCUENTO_VARIABLE","descripcion":"Promo",)"
                              R"("vigenciaDesde":"2024-06-01T03:00:00Z","detalles":{)"
                              R"("descuento":10,"condiciones":{"items":[{"cantidad":1,)"
                              R"("articulos":)";
  promotion_450 = Repeat(promotion_450 + "[", article, "]}]}}}", 450);
  const std::vector<Case> cases = {
      {"answer text alone (32 MiB)", [] { return Repeat("[", "{}", "]"); },
       [](std::string& b) { return std::to_string(b.size() >> 20) + " MiB"; }},
      {"promotions: 32 MiB of empty objects", [] { return Repeat(R"({"results":[)", "{}", "]}"); },
       ReadPromotions},
      {"promotions: 32 MiB of numbers", [] { return Repeat(R"({"results":[)", "0", "]}"); },
       ReadPromotions},
      {"promotions: one with 32 MiB of articles",
       [&] {
         return Repeat(R"({"results":[{"id":1,"detalles":{"condiciones":{"items":[{"articulos":[)",
                       article, "]}]}}}]}");
       },
       ReadPromotions},
      {"promotions: 11,000 empty objects",
       [] { return Repeat(R"({"results":[)", "{}", "]}", 11000); }, ReadPromotions},
      {"promotions: 1,000 of 450 articles (912,000 values)",
       [&] { return Repeat(R"({"results":[)", promotion_450, "]}", 1000); }, ReadPromotions},
      {"promotions: one with 999,990 payment methods",
       [] {
         return Repeat(R"({"results":[{"id":1,"detalles":{"condiciones":{"formasPago":[)", "{}",
                       "]}}}]}", 999990);
       },
       ReadPromotions},
      {"resend list: 32 MiB of empty objects", [] { return Repeat("[", "{}", "]"); },
       ReadResendList},
      {"resend list: 330,000 requests (990,000 values)",
       [] { return Repeat("[", R"({"fecha":"2024-07-01","tipo":"MOVIMIENTOS"})", "]", 330000); },
       ReadResendList},
      {"resend list: 10,000 requests",
       [] { return Repeat("[", R"({"fecha":"2024-07-01","tipo":"MOVIMIENTOS"})", "]", 10000); },
       ReadResendList},
  };
  std::printf("%-52s %9s %10s  %s\n", "answer", "MiB", "peak MB", "read as");
  for (const Case& c : cases) {
    int fds[2];
    if (pipe(fds) != 0) return 1;
    const pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      std::string body = c.body();
      char size[32];
      std::snprintf(size, sizeof size, "%.1f", static_cast<double>(body.size()) / (1 << 20));
      const std::string line = std::string(size) + "\t" + c.read(body);
      (void)!write(fds[1], line.data(), line.size());
      _exit(0);
    }
    close(fds[1]);
    std::string line;
    char buf[512];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
      line.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    const size_t tab = line.find('\t');
    std::printf("%-52s %9s %10.1f  %s\n", c.name, line.substr(0, tab).c_str(),
                static_cast<double>(usage.ru_maxrss) / 1024.0,
                tab == std::string::npos ? "(child failed)" : line.substr(tab + 1).c_str());
    std::fflush(stdout);
  }
  return 0;
}
