#include <CLI/CLI.hpp>
#include <iostream>
#include <optional>

#include "firmware_files/firmware_file.h"

#include "cli/commands.h"
#include "cli/db_command.h"
#include "cli/outcome.h"
#include "cli/station_command.h"
#include "cli/stop_signals.h"
#include "cli/suggest.h"

namespace {

constexpr char kProgram[] = "fwupdate-cli";

// Each command's footer: the exit statuses it can end with.
constexpr char kPortStatuses[] = R"(
Exit status:
  0    every port finished
  1    internal or output error (a JSON or trace file that cannot be written)
  2    bad command line or image file (nothing was opened)
  3    a port could not be opened ("Open Err1" .. "Open Err5") or was found closed ("Open Err10")
  4    no boot loader answering (boot-mode entry failed)
  5    "Program unknown"
  6    a device status error ("0012 : Errors")
  7    a link failure: time-out, retry, CRC, overrun ("     -11 : ...")
  130  stopped by Ctrl-C (a second one ends the program at once)
  143  stopped by SIGTERM (a time-out, a cancelled job)
  129  stopped by SIGHUP (the terminal or SSH session gone)
With several ports, the first failing port's status, in the order given. A stop comes at the next block boundary,
or before the first write; the outcome lines and the JSON are written all the same.)";
constexpr char kVersionsStatuses[] = R"(
Exit status:
  0    every port answered
  1    internal error
  2    bad command line (nothing was opened)
  3    a port could not be opened ("Open Err1" .. "Open Err5") or was found closed ("Open Err10")
  4    no boot loader answering (boot-mode entry failed)
  6    a device status error ("0012 : Errors")
  7    a link failure: time-out, retry, CRC, overrun ("     -11 : ...")
With several ports, the first failing port's status, in the order given.)";
constexpr char kInfoStatuses[] = R"(
Exit status:
  0    done
  1    internal error
  2    bad command line or image file)";
constexpr char kPortsStatuses[] = R"(
Exit status:
  0    done (none found: "no serial ports found" on standard error)
  1    internal error
  2    bad command line)";
constexpr char kConvertStatuses[] = R"(
Exit status:
  0    the raw image was written
  1    the raw image could not be written
  2    bad command line, or the firmware file refused (every fault is named; nothing is written))";
constexpr char kCommandsFooter[] = R"(
'fwupdate-cli COMMAND --help' tells a command's options and exit statuses.)";

// CLI11 puts an option's rules ("Needs: --second") between its name and its description, where they run into the
// text; the descriptions say the rules in words instead.
class HelpFormatter : public CLI::Formatter {
 public:
  std::string make_option_opts(const CLI::Option* option) const override {
    std::string text;
    if (option->get_type_size() != 0 && !option->get_type_name().empty()) {
      text += " " + option->get_type_name();
    }
    if (option->get_expected_max() == CLI::detail::expected_max_vector_size) {
      text += " ...";
    }
    return text;
  }
};

constexpr char kStationStatuses[] = R"(
Exit status:
  1    the records file could not be written
  2    bad command line, slot or image file (nothing was started)
  3-7  every slot stopped after failures in a row: the last failure's status, as update gives it
  130  stopped by Ctrl-C (a second one does not end it sooner: each update stops at its next block
       boundary and is recorded as interrupted first; only kill -9 ends the station without that)
  143  stopped by SIGTERM
  129  stopped by SIGHUP (the terminal or SSH session gone)
A stop comes at each update's next block boundary; the interrupted updates are recorded as such.)";

constexpr char kRecordsStatuses[] = R"(
Exit status:
  0    the records were printed (a line that is no whole record is left out with a warning naming its fault)
  1    internal or output error
  2    bad command line: a time that does not exist, an outcome no record has, or a file that cannot be read
The files are read a line at a time; what is kept in memory is only what is printed (the records chosen, in their
printed form), whatever the size of the files.)";

void AddImageFiles(CLI::App& command, fwu::cli::ImageFiles& files) {
  auto* main = command
                   .add_option("--main", files.main,
                               "main image file (524,288 bytes; raw, Intel HEX or S-record) instead of the carried "
                               "one;\ngiven with --second")
                   ->type_name("FILE");
  auto* second = command
                     .add_option("--second", files.second,
                                 "second image file (65,536 bytes) instead of the carried one;\n"
                                 "given with --main")
                     ->type_name("FILE");
  main->needs(second);
  second->needs(main);
}

CLI::Option* AddDatabase(CLI::App& command, std::string& conninfo, const std::string& what) {
  return command
      .add_option("--db", conninfo,
                  what +
                      ";\nCONNINFO as libpq takes it (postgresql://HOST/DB or 'host=... dbname=...'), its "
                      "password\nfrom ~/.pgpass or PGPASSWORD, never on the command line")
      ->type_name("CONNINFO");
}

void AddPorts(CLI::App& command, std::vector<std::string>& ports) {
  command
      .add_option("PORT", ports,
                  "serial port(s): /dev/ttyUSB0, /dev/serial/by-id/..., COM3;\n"
                  "behind a device server: rfc2217://HOST:PORT, socket://HOST:PORT")
      ->required()
      ->type_name("");
}

// Where a word of the command line is looked for: the command's own options and those of its option groups, and
// the options above it (--help, --version).
const CLI::Option* FindOption(CLI::App* level, const std::string& name) {
  for (CLI::App* app = level; app != nullptr; app = app->get_parent()) {
    if (const CLI::Option* option = app->get_option_no_throw(name)) {
      return option;
    }
  }
  return nullptr;
}

std::vector<std::string> OptionNames(CLI::App* level) {
  std::vector<std::string> names;
  const auto add = [&](CLI::App* app) {
    for (const CLI::Option* option : app->get_options()) {
      for (const auto& name : option->get_lnames()) {
        names.push_back("--" + name);
      }
    }
  };
  for (CLI::App* app = level; app != nullptr; app = app->get_parent()) {
    add(app);
    for (CLI::App* group : app->get_subcommands([](CLI::App* sub) { return sub->get_name().empty(); })) {
      add(group);
    }
  }
  return names;
}

std::vector<std::string> CommandNames(CLI::App* level) {
  std::vector<std::string> names;
  for (CLI::App* sub : level->get_subcommands([](CLI::App* s) { return !s->get_name().empty(); })) {
    names.push_back(sub->get_name());
  }
  return names;
}

// The command's name as typed: "update", "image convert".
std::string CommandPath(CLI::App* level) {
  std::vector<std::string> names;
  for (CLI::App* app = level; app->get_parent() != nullptr; app = app->get_parent()) {
    names.insert(names.begin(), app->get_name());
  }
  std::string path;
  for (const auto& name : names) {
    path += (path.empty() ? "" : " ") + name;
  }
  return path;
}

std::string Unknown(const std::string& what, const std::string& word, const std::string& prefix,
                    const std::vector<std::string>& candidates) {
  std::string message = "unknown " + what + " '" + prefix + word + "'";
  if (const auto nearest = fwu::cli::Nearest(word, candidates)) {
    message += "; did you mean '" + prefix + *nearest + "'?";
  }
  return message;
}

// The first word of the command line that names no command or option, said with what it was most likely meant to
// be: "unknown command 'udpate'; did you mean 'update'?". Nothing when every word is known (the fault is another).
std::optional<std::string> UnknownWord(CLI::App& app, const std::vector<std::string>& words) {
  CLI::App* level = &app;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "--") {
      break;
    }
    if (word.size() > 1 && word[0] == '-') {
      const std::string name = word.substr(0, word.find('='));
      const CLI::Option* option = FindOption(level, name);
      if (option == nullptr) {
        return Unknown("option", name, "", OptionNames(level));
      }
      if (option->get_type_size() != 0 && word.find('=') == std::string::npos) {
        ++i;  // the option's value
      }
      continue;
    }
    const std::vector<std::string> commands = CommandNames(level);
    if (commands.empty()) {
      continue;  // a positional argument
    }
    const auto sub = level->get_subcommands([&](CLI::App* s) { return s->get_name() == word; });
    if (sub.empty()) {
      const std::string prefix = level == &app ? "" : CommandPath(level) + " ";
      return Unknown("command", word, prefix, commands);
    }
    level = sub.front();
  }
  return std::nullopt;
}

int Main(int argc, char** argv) {
  CLI::App app{"fwupdate-cli: writes the controller's firmware through its boot loader over serial lines", kProgram};
  app.formatter(std::make_shared<HelpFormatter>());
  app.footer(kCommandsFooter);
  app.set_version_flag("--version", fwu::cli::VersionText,
                       "the program's version, the commit it was built from, and the carried images");
  app.require_subcommand(1);

  auto* ports = app.add_subcommand("ports", "list the serial ports present");
  ports->footer(kPortsStatuses);

  std::vector<std::string> versionPorts;
  auto* versions = app.add_subcommand("versions", "read the controller's firmware version beside the carried one");
  AddPorts(*versions, versionPorts);
  versions->footer(kVersionsStatuses);

  fwu::cli::UpdateOptions update;
  auto* updateCommand =
      app.add_subcommand("update", "write the firmware into the controller on each port, all at once");
  AddPorts(*updateCommand, update.ports);
  AddImageFiles(*updateCommand, update.images);
  updateCommand
      ->add_option("--json", update.json,
                   "write a summary as JSON to FILE, replacing it only once complete;\n"
                   "'-' for standard output (the rest then goes to standard error)")
      ->type_name("FILE");
  updateCommand
      ->add_option("--trace", update.trace,
                   "record every byte on the line to FILE; with several ports one file each,\n"
                   "the port's name added before the extension")
      ->type_name("FILE");
  AddDatabase(*updateCommand, update.db, "store the run's records in this PostgreSQL database at the end");
  updateCommand->footer(kPortStatuses);

  fwu::cli::StationOptions station;
  auto* stationCommand = app.add_subcommand(
      "station", "production station: update each controller as it is plugged into a slot, once, and record it");
  stationCommand
      ->add_option("SLOT", station.slots,
                   "a port as update takes it (/dev/serial/by-path/..., COM7, rfc2217://HOST:PORT), or usb:SERIAL, "
                   "the USB serial adapter with that serial number wherever it is plugged in")
      ->required()
      ->type_name("");
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
      ->check(CLI::Validator(
          [](const std::string& text) -> std::string {
            return text.find_first_not_of("0123456789") == std::string::npos &&
                           text.find_first_not_of('0') != std::string::npos
                       ? std::string()
                       : "give a count of 1 or more (without --max-failures a slot never stops)";
          },
          "", ""));
  AddDatabase(*stationCommand, station.db,
              "also send every record to this PostgreSQL database, from the records file, as it can");
  stationCommand->footer(kStationStatuses);

  fwu::cli::RecordsOptions records;
  auto* recordsCommand =
      app.add_subcommand("records", "the records of a station: filtered, as a table, CSV or JSON, with a summary");
  recordsCommand->add_option("FILE", records.files, "records file(s) written by station");
  AddDatabase(*recordsCommand, records.db, "read the records from this PostgreSQL database instead of files");
  recordsCommand->add_option("--station", records.station, "with --db: only this station")->type_name("NAME");
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
  recordsCommand->footer(kRecordsStatuses);

  std::string dbConninfo;
  std::vector<std::string> importFiles;
  auto* db =
      app.add_subcommand("db", "the records database (PostgreSQL): its schema, and records files loaded into it");
  db->require_subcommand(1);
  auto* migrate = db->add_subcommand("migrate", "create or upgrade the records schema (as the schema's owner)");
  AddDatabase(*migrate, dbConninfo, "the database")->required();
  migrate->footer(fwu::cli::kDbStatuses);
  auto* import = db->add_subcommand("import", "load records files into the database; a record already there stays");
  AddDatabase(*import, dbConninfo, "the database")->required();
  import->add_option("FILE", importFiles, "records file(s) written by station")->required();
  import->footer(fwu::cli::kDbStatuses);

  fwu::cli::ImageFiles infoImages;
  auto* info = app.add_subcommand("info", "what an update would write: texts, blocks, line time, SHA-256");
  AddImageFiles(*info, infoImages);
  info->footer(kInfoStatuses);

  std::string convertInput;
  std::string convertMain;
  std::string convertSecond;
  auto* image = app.add_subcommand("image", "work on firmware files");
  image->require_subcommand(1);
  auto* convert =
      image->add_subcommand("convert", "check a raw, Intel HEX or S-record file and write it as a raw image");
  convert->add_option("FILE", convertInput, "the firmware file")->required()->type_name("");
  // One of the two, in a group of their own: the positional FILE counts as an option of the command itself.
  auto* convertTo = convert->add_option_group("output", "the image the file holds, and the raw image to write");
  convertTo->add_option("--main", convertMain, "write it as the main image to OUT.bin")->type_name("OUT.bin");
  convertTo->add_option("--second", convertSecond, "write it as the second image to OUT.bin")->type_name("OUT.bin");
  convertTo->require_option(1);
  convert->footer(kConvertStatuses);

  if (argc <= 1) {
    std::cerr << app.help();
    return fwu::cli::kExitUsage;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForVersion& version) {
    std::cout << version.what() << std::flush;
    return 0;
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForAllHelp& help) {
    return app.exit(help);
  } catch (const CLI::ParseError& error) {
    const std::vector<std::string> words(argv + 1, argv + argc);
    const std::optional<std::string> unknown = UnknownWord(app, words);
    std::cerr << kProgram << ": " << unknown.value_or(error.what()) << "\n"
              << "'" << kProgram << " --help' lists the commands\n";
    return fwu::cli::kExitUsage;
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
  if (*migrate) {
    return fwu::cli::RunDbMigrate(dbConninfo);
  }
  if (*import) {
    return fwu::cli::RunDbImport(dbConninfo, importFiles);
  }
  if (*convert) {
    const bool toMain = !convertMain.empty();
    return fwu::firmware_files::ConvertImage(
        convertInput, toMain ? fwu::firmware_files::ImageKind::Main : fwu::firmware_files::ImageKind::Second,
        toMain ? convertMain : convertSecond, std::cerr);
  }
  return fwu::cli::RunInfoCommand(infoImages);
}

}  // namespace

// Nothing the program does throws on purpose; whatever escapes (memory, a thread that cannot start) ends it
// with the internal-error status and a word on standard error rather than an abort.
int main(int argc, char** argv) {
  int status = fwu::cli::kExitInternal;
  try {
    status = Main(argc, argv);
  } catch (const std::exception& error) {
    std::cerr << "fwupdate-cli: " << error.what() << "\n";
  } catch (...) {
    std::cerr << "fwupdate-cli: unexpected failure\n";
  }
  fwu::cli::RunEnded(status);
  return status;
}
