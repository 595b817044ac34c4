#include "service/log_explanations.h"

#include <algorithm>
#include <map>
#include <string_view>

namespace zv {

namespace {

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}
bool Has(std::string_view s, std::string_view part) {
  return s.find(part) != std::string_view::npos;
}

// The upload tags of the log: "[Venda= 5001]" and its kin, then the answer's text.
constexpr std::string_view kDocumentTags[] = {
    "[Venda= ", "[CancT= ",  "[CancP= ",        "[REENVIO-VENDA= ",
    "[F.Dia- ", "[F.Parc- ", "[REENVIO-CAIXA:", "[REENVIO-CAIXA-PARC.:"};

// The tag of a document line ("" when it is none) and the text after it.
std::string_view DocumentTag(std::string_view message, std::string_view* text = nullptr) {
  for (std::string_view tag : kDocumentTags) {
    if (!StartsWith(message, tag)) continue;
    const size_t close = message.find(']');
    if (close == std::string_view::npos) return {};
    if (text) *text = message.substr(close + 1);
    return tag;
  }
  return {};
}

bool TaggedOk(const LogLineContext& l, std::initializer_list<std::string_view> tags) {
  std::string_view text;
  const std::string_view tag = DocumentTag(l.message, &text);
  return !tag.empty() && StartsWith(text, "Ok:") &&
         std::find(tags.begin(), tags.end(), tag) != tags.end();
}

// A document line whose answer was no verdict: the cycle's error line repeats its text.
bool TaggedWithoutVerdict(const LogLineContext& l) {
  std::string_view text;
  if (DocumentTag(l.message, &text).empty() || StartsWith(text, "Ok:")) return false;
  return l.next == "ERRO no Timer: ERESTException - " + std::string(text);
}

bool CannotBeBuilt(std::string_view message) {
  for (std::string_view prefix : {"Erro: ", "Erro Reenvio Venda: "}) {
    if (StartsWith(message, prefix)) {
      const std::string_view kind = message.substr(prefix.size());
      return StartsWith(kind, "EConversionError") ||
             StartsWith(kind, "EArgumentOutOfRangeException");
    }
  }
  return false;
}

constexpr std::string_view kTimerError = "ERRO no Timer: ";
constexpr std::string_view kRestError = "ERRO no Timer: ERESTException - ";
constexpr std::string_view kUnreachable = "ERRO no Timer: ERESTException - REST request failed: ";

bool Unreachable(const LogLineContext& l, std::string_view code) {
  return StartsWith(l.message, kUnreachable) && Has(l.message, code);
}

// The "line" cells of the README's table.
constexpr const char* kRowSaleOk = "`[Venda= 5001]Ok:123`";
constexpr const char* kRowRefused =
    "a document, then `[Venda= 5001]Artigo não encontrado` (or another text of the platform's "
    "error list)";
constexpr const char* kRowCannotBuild =
    "an empty line, `Erro: EConversionError` / `Mensagem: ...`, then `[Venda= 5001]...`";
constexpr const char* kRowNoVerdict =
    "`[Venda= 5001]Usuário e/ou senha inválidos`, then `ERRO no Timer: ERESTException - "
    "Usuário e/ou senha inválidos`";
constexpr const char* kRowCancellationOk = "`[CancT= 5001]Ok:124` / `[CancP= 482913657]Ok:125`";
constexpr const char* kRowResendSale = "`[REENVIO-VENDA= 5001]Ok:126`";
constexpr const char* kRowClosing =
    "`[F.Dia- 05/12/2026]Ok:130` (one per till), `[F.Parc- 05/12/2026]Ok:131`";
constexpr const char* kRowClosingResend =
    "`[REENVIO-CAIXA:05/12/2026]Ok:132`, `[REENVIO-CAIXA-PARC.:05/12/2026]Ok:133`";
constexpr const char* kRowPromotions = "`[R- 10/12/2026]Ok:...`, `[P- 10/12/2026]Ok:...`";
constexpr const char* kRowUnreachable =
    "`ERRO no Timer: ERESTException - REST request failed: Error sending data: (12029) ...`";
constexpr const char* kRowStore = "`ERRO no Timer: EDatabaseError - ...`";
constexpr const char* kRowStoreConnect = "`Falha na conexão com o banco de dados do Quelmara`";
constexpr const char* kRowLogWrite = "`ERRO no Timer: EInOutError - I/O error 28: ...`";
constexpr const char* kRowOtherError = "`ERRO no Timer: <kind> - <message>` (any other kind)";
constexpr const char* kRowNothingCancelled =
    "`[Canc= 41]Venda 60 sem item cancelado neste código; nada enviado`";
constexpr const char* kRowResendPoll = "`[R: 10/12/2026]Renvios enviados com sucesso`";
constexpr const char* kRowRetry =
    "`ERRO no Timer: ...`, then `Tarefa FechamentoCaixaZentrovia adiada até 10/12/2026 14:06:00 "
    "(falha 2): ERESTException - HTTP/1.1 503 Service Unavailable`";
constexpr const char* kRowOutOfMemory =
    "`ERRO no Timer: EOutOfMemory - Out of memory (std::bad_alloc)`";
constexpr const char* kRowStoreDeadline =
    "`ERRO no Timer: EDatabaseError - The store database did not answer for 120 s (running a "
    "statement); the connection was cut`";
constexpr const char* kRowCycleStuck =
    "`Ciclo travado há mais de 600 s em EnviarVendasZentrovia: o processo será encerrado para "
    "ser reiniciado`";
constexpr const char* kRowProbe =
    "`Falha na conexão de internet.` / `Entrando em pausa por 15 minutos (internet).`";

}  // namespace

const std::vector<LogExplanation>& LogExplanations() {
  using L = const LogLineContext&;
  static const std::vector<LogExplanation> table = {
      {"sale-accepted", kRowSaleOk, "[Venda= 5001]Ok:123", "", false,
       "The platform accepted the sale; the sales cursor moved past it.",
       [](L l) { return TaggedOk(l, {"[Venda= "}); }},
      {"cancellation-accepted", kRowCancellationOk, "[CancT= 5001]Ok:124", "", false,
       "The platform accepted the cancellation; the cancellation cursor moved past it.",
       [](L l) {
         return TaggedOk(l, {"[CancT= ", "[CancP= "});
       }},
      {"cancellation-nothing-to-post", kRowNothingCancelled,
       "[Canc= 41]Venda 60 sem item cancelado neste código; nada enviado", "", false,
       "The cancellation code sits on a row that is not cancelled: nothing was posted and the "
       "cancellation cursor passed the code.",
       [](L l) { return StartsWith(l.message, "[Canc= ") && Has(l.message, "nada enviado"); }},
      {"resend-sale", kRowResendSale, "[REENVIO-VENDA= 5001]Ok:126", "", false,
       "A sale of a past day was sent again at the platform's request (or left out when older "
       "than the start date); no cursor moves.",
       [](L l) {
         return StartsWith(l.message, "[REENVIO-VENDA= ") &&
                (Has(l.message, "]Ok:") || Has(l.message, "]Venda anterior à data de início"));
       }},
      {"closing-accepted", kRowClosing, "[F.Dia- 05/12/2026]Ok:130", "", false,
       "The platform accepted a daily closing document.",
       [](L l) {
         return TaggedOk(l, {"[F.Dia- ", "[F.Parc- "});
       }},
      {"closing-resent", kRowClosingResend, "[REENVIO-CAIXA:05/12/2026]Ok:132", "", false,
       "A day's closing was sent again.",
       [](L l) {
         return TaggedOk(l, {"[REENVIO-CAIXA:", "[REENVIO-CAIXA-PARC.:"});
       }},
      {"closing-resend-failed", kRowClosingResend, "Erro Reenvio Caixa: EDatabaseError", "", true,
       "A day's closing could not be sent again: the job that asked for it (a later-day "
       "cancellation or a resend request) ends with the error, its cursor or poll unmoved, and "
       "sends it again on a later cycle.",
       [](L l) { return StartsWith(l.message, "Erro Reenvio Caixa"); }},
      {"document-without-verdict", kRowNoVerdict, "[Venda= 5001]Usuário e/ou senha inválidos",
       "ERRO no Timer: ERESTException - Usuário e/ou senha inválidos", false,
       "The platform did not judge the document; the error line after it says why.",
       TaggedWithoutVerdict},
      {"document-refused", kRowRefused, "[Venda= 5001]Artigo não encontrado", "", true,
       "The platform refused this document (it is logged in full just before the line) and the "
       "cursor moved past it: correct the product or sale named by the platform's text and ask "
       "the platform for a resend of that day.",
       [](L l) {
         std::string_view text;
         return !DocumentTag(l.message, &text).empty() && !StartsWith(text, "Ok:") &&
                !CannotBeBuilt(l.previous);
       }},
      {"document-cannot-be-built", kRowCannotBuild, "Erro: EConversionError\nMensagem: 1e30", "",
       true,
       "A sale's own data cannot be written as a document (an amount out of range, a value "
       "that cannot be read): an empty document was posted and the sale passed over; fix the "
       "sale in the store (its number is on the line after) and ask for a resend.",
       [](L l) { return CannotBeBuilt(l.message); }},
      {"resend-poll-done", kRowResendPoll, "[R: 10/12/2026]Renvios enviados com sucesso", "",
       false, "The day's resend poll is done: every requested document got a verdict.",
       [](L l) { return StartsWith(l.message, "[R: ") && Has(l.message, "Renvios enviados"); }},
      {"promotions", kRowPromotions, "[P- 10/12/2026]Ok:", "", false,
       "The hourly promotion import ran.",
       [](L l) { return StartsWith(l.message, "[R- ") || StartsWith(l.message, "[P- "); }},
      {"promotion-refused", kRowPromotions,
       "Erro AtualizaPromo: EConversionError\nMensagem: Promoção 1005: bad date", "", true,
       "One promotion from the platform could not be written into the store and was rolled "
       "back (the others were written): the \"Mensagem\" part names it and why; it is tried "
       "again at the next hourly import.",
       [](L l) { return StartsWith(l.message, "Erro AtualizaPromo: "); }},
      {"password-refused", kRowNoVerdict,
       "ERRO no Timer: ERESTException - Usuário e/ou senha inválidos", "", true,
       "The platform refused the user or password of the padrao row (zentrovia_usuario, "
       "zentrovia_senha): nothing is sent until they are corrected in the store, then the same "
       "documents go out again.",
       [](L l) { return l.message == std::string(kRestError) + "Usuário e/ou senha inválidos"; }},
      {"proxy-page", kRowNoVerdict, "ERRO no Timer: ERESTException - Erro: JSON inválido", "", true,
       "Something that is not the platform answered (a proxy, a captive portal or a firewall "
       "page): check the store's internet access and zentrovia_url1; nothing moved.",
       [](L l) { return l.message == std::string(kRestError) + "Erro: JSON inválido"; }},
      {"platform-name", kRowUnreachable,
       "ERRO no Timer: ERESTException - REST request failed: Error sending data: (12007) "
       "Could not resolve host",
       "", true,
       "The platform's host name does not resolve (12007): check the DNS of the machine and "
       "zentrovia_url1; the service pauses 15 minutes and nothing moved.",
       [](L l) { return Unreachable(l, "(12007)"); }},
      {"platform-refused-connection", kRowUnreachable,
       "ERRO no Timer: ERESTException - REST request failed: Error sending data: (12029) "
       "Connection refused",
       "", true,
       "The platform could not be reached (12029: the connection was refused or cut): check "
       "the internet access and any firewall; the service tries again after 60 s and nothing "
       "moved.",
       [](L l) { return Unreachable(l, "(12029)"); }},
      {"platform-timeout", kRowUnreachable,
       "ERRO no Timer: ERESTException - REST request failed: Error sending data: (12002) "
       "Timeout was reached",
       "", true,
       "The platform did not answer in time (12002): a slow or broken link; the service tries "
       "again after 60 s and nothing moved.",
       [](L l) { return Unreachable(l, "(12002)"); }},
      {"platform-not-http", kRowUnreachable,
       "ERRO no Timer: ERESTException - REST request failed: Error sending data: (12152) "
       "Weird server reply",
       "", true,
       "What answered was not an HTTP server (12152), or a certificate was refused: check "
       "zentrovia_url1 and any proxy in between; nothing moved.",
       [](L l) { return Unreachable(l, "(12152)"); }},
      {"platform-unreachable", kRowUnreachable,
       "ERRO no Timer: ERESTException - REST request failed: Error sending data: (12175) SSL", "",
       true,
       "The platform could not be reached (the text after \"REST request failed\" says how, "
       "for example an expired or refused certificate): the service tries again after 60 s "
       "and nothing moved.",
       [](L l) { return StartsWith(l.message, kUnreachable); }},
      {"platform-no-verdict", kRowNoVerdict,
       "ERRO no Timer: ERESTException - HTTP/1.1 503 Service Unavailable", "", true,
       "The platform answered without judging the document (a server error, a wrong address "
       "giving 404, an empty answer): nothing moved and the same document goes out again "
       "after 60 s; if it lasts, check zentrovia_url1 and ask the platform.",
       [](L l) { return StartsWith(l.message, kRestError); }},
      {"store-deadline", kRowStoreDeadline,
       "ERRO no Timer: EDatabaseError - The store database did not answer for 120 s (running a "
       "statement); the connection was cut",
       "", true,
       "The store server stopped answering without closing the connection (its machine lost "
       "power, a cable or a VPN dropped) and the call was cut at StoreCallDeadline: nothing "
       "moved, the service attaches anew and the same document goes out once the store "
       "answers; check the store server and the network.",
       [](L l) {
         return StartsWith(l.message, "ERRO no Timer: EDatabaseError - ") &&
                Has(l.message, "did not answer for");
       }},
      {"store-error", kRowStore, "ERRO no Timer: EDatabaseError - connection lost", "", true,
       "The store database failed (the Firebird server down, the connection lost, a lock "
       "time-out): nothing was sent past it and no cursor moved; check the store server.",
       [](L l) { return StartsWith(l.message, "ERRO no Timer: EDatabaseError - "); }},
      {"store-connect-failed", kRowStoreConnect,
       "Falha na conexão com o banco de dados do Quelmara", "", true,
       "The store database could not be opened (Servidor and Caminho of Dorvali.ini, the "
       "Firebird server on port 3050, the SYSDBA password): the service tries again every "
       "30 s.",
       [](L l) { return l.message == "Falha na conexão com o banco de dados do Quelmara"; }},
      {"log-not-written", kRowLogWrite,
       "ERRO no Timer: EInOutError - I/O error 28: No space left on device", "", true,
       "The log could not be written (a full disk, a file held by another program, no right "
       "to write beside the executable): cursors moved on the platform's verdicts all the "
       "same; free the disk or the file.",
       [](L l) { return StartsWith(l.message, "ERRO no Timer: EInOutError - "); }},
      {"job-retry", kRowRetry,
       "Tarefa AtualizaPromo adiada até 10/12/2026 14:06:00 (falha 2): ERESTException - "
       "HTTP/1.1 503 Service Unavailable",
       "", true,
       "A job (the resend poll, the promotion import or the daily closing) keeps failing and "
       "steps aside until the time named while the others, the sales upload above all, go on; "
       "the error after it says why, and -STATUS shows its retry time.",
       [](L l) { return StartsWith(l.message, "Tarefa ") && Has(l.message, " adiada até "); }},
      {"job-incomplete", kRowRetry,
       "ERRO no Timer: EJobIncomplete - AtualizaPromo terminou sem gravar zentrovia_verificapromo",
       "", true,
       "The job logged an error of its own and ended without its stamp: it steps aside for its "
       "retry time and is tried again; the line logged before it says why.",
       [](L l) { return StartsWith(l.message, "ERRO no Timer: EJobIncomplete - "); }},
      {"out-of-memory", kRowOutOfMemory,
       "ERRO no Timer: EOutOfMemory - Out of memory (std::bad_alloc)", "", true,
       "The machine ran out of memory inside a job (or an answer of the platform was far larger "
       "than any real one): the job stopped with no cursor moved and runs again after 60 s.",
       [](L l) { return StartsWith(l.message, "ERRO no Timer: EOutOfMemory - "); }},
      {"other-error", kRowOtherError, "ERRO no Timer: EAccessViolation - read of address 0", "",
       true,
       "An error ended a sync cycle: the service pauses 60 s and runs the same job again; the "
       "text names the error.",
       [](L l) { return StartsWith(l.message, kTimerError); }},
      {"cycle-stuck", kRowCycleStuck,
       "Ciclo travado há mais de 600 s em EnviarVendasZentrovia: o processo será encerrado "
       "para ser reiniciado",
       "", true,
       "A cycle ran past CycleCeiling in the job named: the process ended and its service "
       "manager started it again, with nothing moved that the platform had not judged; seen "
       "more than once, check the store server and the network.",
       [](L l) { return StartsWith(l.message, "Ciclo travado há mais de "); }},
      {"internet-down", kRowProbe, "Falha na conexão de internet.", "", true,
       "None of the probe sites answered: the machine has no internet access; nothing is "
       "tried for 15 minutes.",
       [](L l) { return l.message == "Falha na conexão de internet."; }},
      {"internet-pause", kRowProbe, "Entrando em pausa por 15 minutos (internet).", "", false,
       "The 15-minute pause after the probe failed.",
       [](L l) { return l.message == "Entrando em pausa por 15 minutos (internet)."; }},
      {"dns-pause", kRowUnreachable, "Rede/DNS falhou (12007). Pausando por 15 minutos.", "", false,
       "The 15-minute pause after a host name did not resolve.",
       [](L l) { return StartsWith(l.message, "Rede/DNS falhou (12007)."); }},
  };
  return table;
}

const LogExplanation* ExplainLogLine(const LogLineContext& line) {
  for (const LogExplanation& e : LogExplanations()) {
    if (e.matches(line)) return &e;
  }
  return nullptr;
}

namespace {

// One line, cut at a UTF-8 character boundary.
std::string Shortened(const std::string& message, size_t max_bytes) {
  std::string text;
  for (char c : message) {
    if (c == '\n') {
      text += " / ";
    } else {
      text += c;
    }
  }
  if (text.size() <= max_bytes) return text;
  size_t cut = max_bytes;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut) + " ...";
}

}  // namespace

LogDigest DigestLog(const std::vector<LogEntry>& entries) {
  LogDigest digest;
  digest.messages = entries.size();
  std::map<const LogExplanation*, LogProblem> problems;
  static const std::string kNone;
  for (size_t i = 0; i < entries.size(); ++i) {
    const LogEntry& entry = entries[i];
    if (digest.first_at.IsZero() && !entry.at.IsZero()) digest.first_at = entry.at;
    const LogLineContext line{i > 0 ? entries[i - 1].message : kNone, entry.message,
                              i + 1 < entries.size() ? entries[i + 1].message : kNone};
    const LogExplanation* e = ExplainLogLine(line);
    if (!e) continue;
    if (!e->problem) {
      std::string_view text;
      if (!DocumentTag(entry.message, &text).empty() && StartsWith(text, "Ok:"))
        digest.last_accepted = entry.at;
      continue;
    }
    LogProblem& p = problems[e];
    p.explanation = e;
    p.last_at = entry.at;
    p.line = entry.message;
    ++p.count;
  }
  for (auto& [e, p] : problems) {
    p.line = Shortened(p.line, 300);
    digest.problems.push_back(std::move(p));
  }
  // Newest first; among problems of the same second, the table's order.
  std::stable_sort(digest.problems.begin(), digest.problems.end(),
                   [](const LogProblem& a, const LogProblem& b) {
                     if (a.last_at != b.last_at) return b.last_at < a.last_at;
                     return a.explanation < b.explanation;
                   });
  return digest;
}

}  // namespace zv
