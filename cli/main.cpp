#include <CLI/CLI.hpp>
#include <iostream>

#include "firmware_files/firmware_file.h"

#include "build_version.h"
#include "cli/commands.h"
#include "cli/outcome.h"
#include "cli/station_command.h"

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

constexpr char kStationStatuses[] = R"(
Exit status:
  1    the records file could not be written
  2    bad command line, slot or image file (nothing was started)
  3-7  every slot stopped after failures in a row: the last failure's status, as update gives it
  130  stopped by Ctrl-C (every update under way stops at its next block boundary and is recorded))";

void AddImageFiles(CLI::App& command, fwu::cli::ImageFiles& files) {
  auto* main = command.add_option("--main", files.main, "main image file (524,288 bytes) instead of the carried one")
                   ->type_name("FILE");
  auto* second =
      command.add_option("--second", files.second, "second image file (65,536 bytes) instead of the carried one")
          ->type_name("FILE");
  main->needs(second);
  second->needs(main);
}

int Main(int argc, char** argv) {
  CLI::App app{"fwupdate-cli: writes the controller's firmware through its boot loader over serial lines"};
  app.footer(kExitStatuses);
  app.set_version_flag("--version", std::string("fwupdate-cli ") + FWU_VERSION + " (commit " + FWU_COMMIT + ")",
                       "the program's version and the commit it was built from");
  app.require_subcommand(1);

  auto* ports = app.add_subcommand("ports", "list the serial ports present");
  ports->footer(kExitStatuses);

  std::vector<std::string> versionPorts;
  auto* versions = app.add_subcommand("versions", "read the controller's firmware version beside the carried one");
  versions->add_option("PORT", versionPorts, "serial port(s): /dev/ttyUSB0, COM3, ...")->required();
  versions->footer(kExitStatuses);

  fwu::cli::UpdateOptions update;
  auto* updateCommand =
      app.add_subcommand("update", "write the firmware into the controller on each port, all at once");
  updateCommand->add_option("PORT", update.ports, "serial port(s): /dev/ttyUSB0, COM3, ...")->required();
  AddImageFiles(*updateCommand, update.images);
  updateCommand->add_option("--json", update.json, "write a summary as JSON to FILE ('-' for standard output)")
      ->type_name("FILE");
  updateCommand
      ->add_option("--trace", update.trace,
                   "record every byte on the line to FILE (several ports: one file each, the port's name "
                   "added before the extension)")
      ->type_name("FILE");
  updateCommand->footer(kExitStatuses);

  fwu::cli::StationOptions station;
  auto* stationCommand = app.add_subcommand(
      "station", "production station: update each controller as it is plugged into a slot, once, and record it");
  stationCommand
      ->add_option("SLOT", station.slots,
                   "a port as update takes it (/dev/serial/by-path/..., COM7), or usb:SERIAL, the USB serial adapter "
                   "with that serial number wherever it is plugged in")
      ->required();
  AddImageFiles(*stationCommand, station.images);
  stationCommand
      ->add_option("--records", station.records,
                   "append one JSON record per unit to FILE (default: STATION-records.jsonl in this folder)")
      ->type_name("FILE");
  stationCommand->add_option("--station", station.station, "the station's name (default: the machine's name)")
      ->type_name("NAME");
  stationCommand->add_option("--operator", station.operatorName, "the operator's name, in every record")
      ->type_name("NAME");
  stationCommand->add_option("--lot", station.lot, "the production lot, in every record")->type_name("TEXT");
  stationCommand->add_option("--trace-dir", station.traceDir, "record every unit's bytes on the line, one file each")
      ->type_name("DIR");
  stationCommand
      ->add_option("--max-failures", station.maxFailures,
                   "a slot that fails N units in a row stops and asks to check the fixture")
      ->type_name("N")
      ->check(CLI::PositiveNumber);
  stationCommand->footer(kStationStatuses);

  fwu::cli::RecordsOptions records;
  auto* recordsCommand =
      app.add_subcommand("records", "the records of a station: filtered, as a table, CSV or JSON, with a summary");
  recordsCommand->add_option("FILE", records.files, "records file(s) written by station")->required();
  recordsCommand->add_option("--since", records.since, "units started at or after TIME (UTC: 2025-03-04T13:05)")
      ->type_name("TIME");
  recordsCommand
      ->add_option("--until", records.until, "units started at or before TIME (UTC; a date takes in the whole day)")
      ->type_name("TIME");
  recordsCommand->add_option("--outcome", records.outcome, "only this outcome: finished, device_error, ...")
      ->type_name("WORD");
  recordsCommand->add_option("--slot", records.slot, "only this slot, as given to station")->type_name("S");
  recordsCommand->add_option("--lot", records.lot, "only this lot")->type_name("L");
  recordsCommand
      ->add_option("--format", records.format,
                   "table (default), csv or json; with csv and json the summary goes to standard error")
      ->check(CLI::IsMember({"table", "csv", "json"}));

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
  if (*stationCommand) {
    return fwu::cli::RunStationCommand(station);
  }
  if (*recordsCommand) {
    return fwu::cli::RunRecordsCommand(records);
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
