// fake-platform: the platform stand-in as a program. Listens on 127.0.0.1 until SIGTERM or
// SIGINT and records every request as one JSON line in the record file.

#include <signal.h>

#include <cstdlib>
#include <iostream>
#include <string>

#include "fake-platform/fake_platform.h"

namespace {

void Usage() {
  std::cerr
      << "usage: fake-platform --port N --record FILE [options]\n"
         "  --port N                   port on 127.0.0.1 (0: any free port)\n"
         "  --record FILE              append every request as one JSON line\n"
         "  --user U --password P      the account it accepts (default zentrovia/zentrovia)\n"
         "  --resend-movements FILE    body of .../solicitudes/movimientos (default [])\n"
         "  --resend-closings FILE     body of .../solicitudes/cierresDiarios (default [])\n"
         "  --promotions-accepted FILE body of .../promociones?estado=ACEPTADA\n"
         "  --promotions-rejected FILE body of .../promociones?estado=RECHAZADA\n"
         "  --promotions-pending FILE  body of .../promociones\n"
         "                             (each FILE is read again at every request; an empty\n"
         "                             file answers an empty body)\n"
         "  --article-error CODE[=MSG] error list for a posted movement with this codigoBarras\n"
         "                             (MSG defaults to ARTICULO_NO_ENCONTRADO)\n"
         "  --fail-status N            answer every request with status N\n"
         "  --fail-path TEXT           ... only requests whose path contains TEXT\n"
         "  --fail-method M            ... only requests with method M (GET, POST)\n"
         "  --fail-skip N              ... after the first N such requests, answered normally\n"
         "  --fail-times K             ... only the next K such requests\n"
         "  --delay-ms N               wait N ms before answering\n"
         "  --non-json                 answer with a body that is not JSON\n";
}

// A list file must exist at start, so that a mistyped name fails at once; it is read again at
// every request.
std::string ReadableFile(const std::string& path) {
  fake::ReadFileText(path);
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  fake::Options options;
  int port = -1;
  fake::Fault fault;
  std::string fault_method;
  int fault_skip = 0;
  bool has_fault = false;
  std::vector<std::pair<std::string, std::string>> article_errors;
  try {
    for (int i = 1; i < argc; ++i) {
      const std::string arg = argv[i];
      auto value = [&]() -> std::string {
        if (i + 1 >= argc) throw std::runtime_error(arg + " needs a value");
        return argv[++i];
      };
      if (arg == "--port")
        port = std::stoi(value());
      else if (arg == "--record")
        options.record_file = value();
      else if (arg == "--user")
        options.user = value();
      else if (arg == "--password")
        options.password = value();
      else if (arg == "--resend-movements")
        options.resend_movements_file = ReadableFile(value());
      else if (arg == "--resend-closings")
        options.resend_closings_file = ReadableFile(value());
      else if (arg == "--promotions-accepted")
        options.promotions_accepted_file = ReadableFile(value());
      else if (arg == "--promotions-rejected")
        options.promotions_rejected_file = ReadableFile(value());
      else if (arg == "--promotions-pending")
        options.promotions_pending_file = ReadableFile(value());
      else if (arg == "--article-error") {
        const std::string v = value();
        const size_t eq = v.find('=');
        if (eq == std::string::npos)
          article_errors.emplace_back(v, "ARTICULO_NO_ENCONTRADO");
        else
          article_errors.emplace_back(v.substr(0, eq), v.substr(eq + 1));
      } else if (arg == "--fail-status") {
        fault.status = std::stoi(value());
        has_fault = true;
      } else if (arg == "--fail-path") {
        fault.path_contains = value();
      } else if (arg == "--fail-method") {
        fault_method = value();
      } else if (arg == "--fail-skip") {
        fault_skip = std::stoi(value());
      } else if (arg == "--fail-times") {
        fault.times = std::stoi(value());
      } else if (arg == "--delay-ms") {
        fault.delay_ms = std::stoi(value());
        has_fault = true;
      } else if (arg == "--non-json") {
        fault.status = 200;
        fault.body = "<html><body>Servicio en mantenimiento</body></html>";
        fault.content_type = "text/html";
        has_fault = true;
      } else if (arg == "--help" || arg == "-h") {
        Usage();
        return 0;
      } else {
        throw std::runtime_error("unknown option " + arg);
      }
    }
    if (port < 0 || options.record_file.empty())
      throw std::runtime_error("--port and --record are required");
  } catch (const std::exception& e) {
    std::cerr << "fake-platform: " << e.what() << "\n";
    Usage();
    return 2;
  }
  if (fault.status != 0 && fault.body.empty()) fault.body = R"({"message":"falla simulada"})";

  // Signals are taken by sigwait below; the server's threads inherit the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  try {
    fake::FakePlatform platform(options);
    for (const auto& [code, message] : article_errors) platform.SetArticleError(code, message);
    if (has_fault) platform.AddFault(fault, fault_method, fault_skip);
    platform.Start(port);
    std::cout << "fake-platform listening on " << platform.BaseUrl() << " (recording to "
              << options.record_file << ")" << std::endl;
    int sig = 0;
    sigwait(&signals, &sig);
    platform.Stop();
    std::cout << "fake-platform stopped: " << platform.SummaryJson() << std::endl;
  } catch (const std::exception& e) {
    std::cerr << "fake-platform: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
