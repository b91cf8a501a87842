// ntrip-replay-caster: serves RTCM 3 recordings over NTRIP until Ctrl-C or SIGTERM.
#include <csignal>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

#include "command_line.h"
#include "ntrip_version.h"
#include "replay_caster.h"

int main(int argc, char** argv) {
  caster::CommandLine line;
  const auto parse = [&] {
    line = caster::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    return line.answer;
  };
  const auto answer_text = [](cli::Answer answer) {
    return caster::AnswerText(answer, NTRIP_VERSION);
  };
  if (const auto status = cli::EndBeforeRunning("ntrip-replay-caster", parse, answer_text)) {
    return *status;
  }
  try {
    // Registered before serving starts, so an early Ctrl-C still stops cleanly.
    boost::asio::io_context signals_io;
    boost::asio::signal_set signals(signals_io, SIGINT, SIGTERM);

    for (const auto& [name, file] : line.mount_files) {
      line.options.mounts.push_back({name, caster::ReadFileBytes(file)});
    }
    for (const auto& position : line.mount_positions) {
      bool found = false;
      for (auto& mount : line.options.mounts) {
        if (mount.name != position.name) continue;
        mount.latitude = position.latitude;
        mount.longitude = position.longitude;
        found = true;
      }
      if (!found) {
        std::cerr << "ntrip-replay-caster: --mount-position for an unknown mount point '"
                  << position.name << "'\n";
        return 2;
      }
    }
    caster::ReplayCaster server(line.options);
    const std::string& address = line.options.listen_address;
    const bool v6 = address.find(':') != std::string::npos;
    std::cout << "listening on " << (v6 ? "[" + address + "]" : address) << ":" << server.Port()
              << std::endl;

    signals.async_wait([](const boost::system::error_code&, int) {});
    signals_io.run();
    server.Stop();
    const std::size_t connections = server.ConnectionCount();
    std::cout << "stopped after " << connections << (connections == 1 ? " connection" : " connections")
              << std::endl;
  } catch (const std::exception& e) {
    std::cerr << "ntrip-replay-caster: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
