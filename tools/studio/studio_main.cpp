// gridwave-studio [--port N] [--listen ADDR]: a local web page where a
// picture is dropped, rendered into sound, seen as a spectrogram and heard.
#include <signal.h>

#include <iostream>
#include <string>

#include "cli_support.h"
#include "host_policy.h"
#include "standard_descriptors.h"
#include "studio_server.h"

using namespace gridwave;

int main(int argc, char** argv) {
  ensure_standard_descriptors();
  studio::StudioConfig config;
  CLI::App app{
      "Serves the gridwave studio, a web page on this computer: pick or drop a picture, render it "
      "with img2sound's synthesis or exactly as img2grid and gridwave would, look at its "
      "spectrogram, listen, and download the sound (and the grid). Everything is rendered in "
      "memory; nothing is written to disk. Stop it with Ctrl+C.",
      "gridwave-studio"};
  app.add_option("--port", config.port, "Port to listen on (default 8731; 0 picks a free one)")
      ->type_name("N")
      ->check(CLI::Range(0, 65535));
  app.add_option("--listen", config.listen_address,
                 "IPv4 address to listen on (default 127.0.0.1, this computer only; 0.0.0.0 for every "
                 "network: anyone who can reach it can use the studio)")
      ->type_name("ADDR")
      ->check([](const std::string& text) {
        return studio::is_ipv4_literal(text) ? std::string() : "'" + text + "' is not an IPv4 address such as 127.0.0.1";
      });
  const int parsed = tools::parse_command_line(app, argc, argv);
  if (parsed >= 0) return parsed;

  // Every thread civetweb starts inherits this mask, so the stop signals
  // come to sigwait() below.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stop_signals, s);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  return tools::run_reporting_failures("gridwave-studio", [&] {
    studio::StudioServer server(config);
    std::cout << "gridwave studio: " << server.url() << "  (Ctrl+C stops it)" << std::endl;
    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    return 0;
  });
}
