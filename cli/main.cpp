#include <CLI/CLI.hpp>
#include <iostream>

#include "firmware_files/firmware_file.h"

#include "build_version.h"
#include "cli/commands.h"
#include "cli/outcome.h"
#include "cli/port_kind.h"

namespace {

constexpr char kExitStatuses[] = R"(
Exit status:
  0    every port finished
  1    internal or output error (a JSON or trace file that cannot be written)
  2    bad command line or image file (nothing was opened)
  3    a port could not be opened ("Open Err1" .. "Open Err5")
  4    no boot loader answering (boot-mode entry failed)
  5    "Program unknown"
  6    a device status error ("0012 : Errors")
  7    a link failure: time-out, retry, CRC, overrun ("     -11 : ...")
  130  interrupted by Ctrl-C (a second Ctrl-C ends at once)
With several ports, the first failing port's status, in the order given.)";

void AddImageFiles(CLI::App& command, fwu::cli::ImageFiles& files) {
  auto* main = command.add_option("--main", files.main, "main image file (524,288 bytes) instead of the carried one")
                   ->type_name("FILE");
  auto* second =
      command.add_option("--second", files.second, "second image file (65,536 bytes) instead of the carried one")
          ->type_name("FILE");
  main->needs(second);
  second->needs(main);
}

constexpr char kPortHelp[] =
    "serial port(s): /dev/ttyUSB0, COM3, ...; or behind a device server: rfc2217://HOST:PORT, socket://HOST:PORT";

int Main(int argc, char** argv) {
  CLI::App app{"fwupdate-cli: writes the controller's firmware through its boot loader over serial lines"};
  app.footer(kExitStatuses);
  app.set_version_flag("--version", std::string("fwupdate-cli ") + FWU_VERSION + " (commit " + FWU_COMMIT + ")",
                       "the program's version and the commit it was built from");
  app.require_subcommand(1);
  // Network port names are checked as the command line is read: a malformed one stops the run before any port
  // opens.
  const CLI::Validator portName([](std::string& name) { return fwu::cli::PortNameProblem(name); }, "PORT");

  auto* ports = app.add_subcommand("ports", "list the serial ports present");
  ports->footer(kExitStatuses);

  std::vector<std::string> versionPorts;
  auto* versions = app.add_subcommand("versions", "read the controller's firmware version beside the carried one");
  versions->add_option("PORT", versionPorts, kPortHelp)->required()->check(portName);
  versions->footer(kExitStatuses);

  fwu::cli::UpdateOptions update;
  auto* updateCommand =
      app.add_subcommand("update", "write the firmware into the controller on each port, all at once");
  updateCommand->add_option("PORT", update.ports, kPortHelp)->required()->check(portName);
  AddImageFiles(*updateCommand, update.images);
  updateCommand->add_option("--json", update.json, "write a summary as JSON to FILE ('-' for standard output)")
      ->type_name("FILE");
  updateCommand
      ->add_option("--trace", update.trace,
                   "record every byte on the line to FILE (several ports: one file each, the port's name "
                   "added before the extension)")
      ->type_name("FILE");
  updateCommand->footer(kExitStatuses);

  fwu::cli::ImageFiles infoImages;
  auto* info = app.add_subcommand("info", "what an update would write: texts, blocks, line time, SHA-256");
  AddImageFiles(*info, infoImages);
  info->footer(kExitStatuses);

  std::string convertInput;
  std::string convertMain;
  std::string convertSecond;
  auto* image = app.add_subcommand("image", "work on firmware files");
  image->require_subcommand(1);
  image->footer(kExitStatuses);
  auto* convert =
      image->add_subcommand("convert", "check a raw, Intel HEX or S-record file and write it as a raw image");
  convert->add_option("FILE", convertInput, "the firmware file")->required();
  // One of the two, in a group of their own: the positional FILE counts as an option of the command itself.
  auto* convertTo = convert->add_option_group("output", "the image the file holds, and the raw image to write");
  convertTo->add_option("--main", convertMain, "write it as the main image to OUT.bin")->type_name("OUT.bin");
  convertTo->add_option("--second", convertSecond, "write it as the second image to OUT.bin")->type_name("OUT.bin");
  convertTo->require_option(1);
  convert->footer(kExitStatuses);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int status = app.exit(error);
    return status == 0 ? 0 : fwu::cli::kExitUsage;
  }

  if (*ports) {
    return fwu::cli::RunPortsCommand();
  }
  if (*versions) {
    return fwu::cli::RunVersionsCommand(versionPorts);
  }
  if (*updateCommand) {
    return fwu::cli::RunUpdateCommand(update);
  }
  if (*convert) {
    const bool toMain = !convertMain.empty();
    return fwu::files::ConvertImage(convertInput, toMain ? fwu::files::ImageKind::Main : fwu::files::ImageKind::Second,
                                    toMain ? convertMain : convertSecond, std::cerr);
  }
  return fwu::cli::RunInfoCommand(infoImages);
}

}  // namespace

// Nothing the program does throws on purpose; whatever escapes (memory, a thread that cannot start) ends it
// with the internal-error status and a word on standard error rather than an abort.
int main(int argc, char** argv) {
  try {
    return Main(argc, argv);
  } catch (const std::exception& error) {
    std::cerr << "fwupdate-cli: " << error.what() << "\n";
  } catch (...) {
    std::cerr << "fwupdate-cli: unexpected failure\n";
  }
  return fwu::cli::kExitInternal;
}
