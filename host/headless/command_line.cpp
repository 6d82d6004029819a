#include "headless/command_line.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>

#include "core/settings_by_name.h"

namespace vorlan::host {
namespace {

constexpr const char* kDescription =
    "Vorlan, an editor and runner for filter graphs.\n"
    "\n"
    "  vorlan [--filters DIR]... [GRAPH.gph]\n"
    "      open the editor, optionally with a graph\n"
    "  vorlan --run GRAPH.gph [--path CAPTION=FILE]... [--set CAPTION.FIELD=VALUE]...\n"
    "               [--report FILE.json] [--snapshots DIR] [--memory-limit SIZE] [--quiet] [--filters DIR]...\n"
    "      run a graph without a display\n"
    "  vorlan --list [--filters DIR]...\n"
    "      list the plug-in folders searched and the filter prototypes loaded\n"
    "  vorlan --inspect [NAME|ID] [--json] [--filters DIR]...\n"
    "      describe a filter: pins and settings (every filter briefly without NAME|ID)\n"
    "  vorlan --convert IN OUT [--filters DIR]...\n"
    "      convert a graph between the graph file and its text form (OUT ending in .json)";

constexpr const char* kEpilogue =
    "\n"
    "Exit status of --run:\n"
    "  0    the graph ended Done\n"
    "  1    the run failed (a filter failed, or a snapshot could not be written)\n"
    "  2    the graph cannot be loaded, or the command line is wrong\n"
    "  129  stopped by SIGHUP, 130 by SIGINT (Ctrl-C), 143 by SIGTERM (128 + signal)\n"
    "--path sets the file of the File Input/Output Stream nodes with that caption.\n"
    "--set sets one setting of the nodes with that caption by the field's name, as\n"
    "  --inspect lists them (vorlan --run g.gph --set encoder.maxRanges=500); a value\n"
    "  of the wrong type or out of range exits 2 and names what is allowed.\n"
    "--report writes one JSON record of the run (also when it fails or is stopped).\n"
    "--snapshots writes what RGB and mono displays received as DIR/<node>-<caption>.png.\n"
    "--memory-limit caps the data decoders may hold at once (default 2G; K, M, G suffixes).\n"
    "Text display values are printed on stdout as caption<TAB>value<TAB>type.\n"
    "\n"
    "Plug-ins are loaded from, in this order: the filters folder beside the program,\n"
    "$XDG_DATA_HOME/vorlan/filters (~/.local/share/vorlan/filters), the folders of\n"
    "VORLAN_FILTER_PATH (separated by ':'), then each --filters DIR. The current\n"
    "directory is not searched; relative folders of the environment are ignored.\n"
    "The first library to offer a filter id keeps it.\n";

struct Options {
  QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                          QStringLiteral("Displays help on commandline options.")};
  QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")},
                             QStringLiteral("Displays version information.")};
  QCommandLineOption run{QStringLiteral("run"), QStringLiteral("Run the graph without a display.")};
  QCommandLineOption list{QStringLiteral("list"),
                          QStringLiteral("List the plug-in folders searched and the filter prototypes.")};
  QCommandLineOption path{QStringLiteral("path"),
                          QStringLiteral("With --run: the file of the stream nodes captioned CAPTION."),
                          QStringLiteral("CAPTION=FILE")};
  QCommandLineOption snapshots{QStringLiteral("snapshots"),
                               QStringLiteral("With --run: write what the image displays received to DIR."),
                               QStringLiteral("DIR")};
  QCommandLineOption quiet{QStringLiteral("quiet"), QStringLiteral("With --run: no progress lines.")};
  QCommandLineOption memoryLimit{QStringLiteral("memory-limit"),
                                 QStringLiteral("With --run: the most decoded data held at once (512M, 2G)."),
                                 QStringLiteral("SIZE")};
  QCommandLineOption set{QStringLiteral("set"),
                         QStringLiteral("With --run: set FIELD of the nodes captioned CAPTION."),
                         QStringLiteral("CAPTION.FIELD=VALUE")};
  QCommandLineOption report{QStringLiteral("report"),
                            QStringLiteral("With --run: write a JSON record of the run to FILE."),
                            QStringLiteral("FILE")};
  QCommandLineOption inspect{QStringLiteral("inspect"),
                             QStringLiteral("Describe the filter NAME or ID, or list every filter.")};
  QCommandLineOption json{QStringLiteral("json"), QStringLiteral("With --inspect: print JSON.")};
  QCommandLineOption convert{QStringLiteral("convert"),
                             QStringLiteral("Convert the graph IN to OUT (text when OUT ends in .json).")};
  QCommandLineOption filters{QStringLiteral("filters"),
                             QStringLiteral("Also load the plug-ins of DIR (repeatable; searched last)."),
                             QStringLiteral("DIR")};

  void AddTo(QCommandLineParser& parser) const {
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    for (const QCommandLineOption* o : {&help, &version, &run, &list, &inspect, &convert, &path, &set, &report,
                                        &snapshots, &quiet, &memoryLimit, &json, &filters}) {
      parser.addOption(*o);
    }
    parser.addPositionalArgument(QStringLiteral("GRAPH.gph"), QStringLiteral("The graph file."),
                                 QStringLiteral("[GRAPH.gph]"));
  }
};

std::string Local(const QString& s) { return s.toLocal8Bit().toStdString(); }

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& line, std::string& error) {
  line = CommandLine{};
  QStringList list;
  for (const std::string& a : args) list.append(QString::fromLocal8Bit(a.data(), static_cast<qsizetype>(a.size())));
  if (list.isEmpty()) list.append(QStringLiteral("vorlan"));

  const Options o;
  QCommandLineParser parser;
  o.AddTo(parser);
  if (!parser.parse(list)) {
    error = Local(parser.errorText());
    return false;
  }
  for (const QString& dir : parser.values(o.filters)) {
    if (dir.isEmpty()) {
      error = "--filters needs a folder";
      return false;
    }
    line.filterFolders.push_back(Local(dir));
  }
  line.run.filterFolders = line.filterFolders;
  const QStringList positional = parser.positionalArguments();

  if (parser.isSet(o.help)) {
    line.mode = CommandLine::Mode::Help;
    return true;
  }
  if (parser.isSet(o.version)) {
    line.mode = CommandLine::Mode::Version;
    return true;
  }
  const bool runOnly = parser.isSet(o.path) || parser.isSet(o.snapshots) || parser.isSet(o.quiet) ||
                       parser.isSet(o.memoryLimit) || parser.isSet(o.set) || parser.isSet(o.report);
  const int modes = int{parser.isSet(o.run)} + int{parser.isSet(o.list)} + int{parser.isSet(o.inspect)} +
                    int{parser.isSet(o.convert)};
  if (modes > 1) {
    error = "--run, --list, --inspect and --convert exclude each other";
    return false;
  }
  if (!parser.isSet(o.run) && runOnly) {
    error = "--path, --set, --report, --snapshots, --memory-limit and --quiet need --run";
    return false;
  }
  if (parser.isSet(o.json) && !parser.isSet(o.inspect)) {
    error = "--json needs --inspect";
    return false;
  }
  if (parser.isSet(o.inspect)) {
    if (positional.size() > 1) {
      error = "--inspect takes one filter name or id";
      return false;
    }
    line.mode = CommandLine::Mode::Inspect;
    if (!positional.isEmpty()) line.inspect = Local(positional.front());
    line.json = parser.isSet(o.json);
    return true;
  }
  if (parser.isSet(o.convert)) {
    if (positional.size() != 2) {
      error = "--convert takes two graph files, IN and OUT";
      return false;
    }
    line.mode = CommandLine::Mode::Convert;
    line.convertFrom = Local(positional[0]);
    line.convertTo = Local(positional[1]);
    return true;
  }
  if (parser.isSet(o.list)) {
    if (!positional.isEmpty()) {
      error = "--list takes no graph file";
      return false;
    }
    line.mode = CommandLine::Mode::List;
    return true;
  }
  if (parser.isSet(o.run)) {
    line.mode = CommandLine::Mode::Run;
    RunOptions& run = line.run;
    if (positional.isEmpty()) {
      error = "--run needs a graph file";
      return false;
    }
    if (positional.size() > 1) {
      error = "more than one graph file given";
      return false;
    }
    run.graph = Local(positional.front());
    for (const QString& value : parser.values(o.path)) {
      const qsizetype eq = value.indexOf(QLatin1Char('='));
      if (eq <= 0) {
        error = "--path takes CAPTION=FILE";
        return false;
      }
      run.paths.emplace_back(Local(value.left(eq)), Local(value.mid(eq + 1)));
    }
    for (const QString& value : parser.values(o.set)) {
      SettingAssignment assignment;
      if (!ParseSettingAssignment(Local(value), assignment, error)) return false;
      run.settings.push_back(Local(value));
    }
    const QStringList reports = parser.values(o.report);
    if (!reports.isEmpty()) {
      run.report = Local(reports.back());
      if (run.report.empty()) {
        error = "--report needs a file";
        return false;
      }
    }
    const QStringList snapshots = parser.values(o.snapshots);
    if (!snapshots.isEmpty()) run.snapshots = Local(snapshots.back());
    const QStringList limits = parser.values(o.memoryLimit);
    if (!limits.isEmpty() && !ParseByteCount(Local(limits.back()), run.memoryLimit)) {
      error = "--memory-limit takes a byte count such as 512M or 2G, not " + Local(limits.back());
      return false;
    }
    run.quiet = parser.isSet(o.quiet);
    return true;
  }
  if (positional.size() > 1) {
    error = "the editor takes at most one graph file";
    return false;
  }
  line.mode = CommandLine::Mode::Editor;
  if (!positional.isEmpty()) line.graph = Local(positional.front());
  return true;
}

std::string HelpText() {
  const Options o;
  QCommandLineParser parser;
  o.AddTo(parser);
  QString text = parser.helpText();
  text.replace(QStringLiteral("<executable_name>"), QStringLiteral("vorlan"));
  return Local(text) + kEpilogue;
}

std::string VersionText() { return "vorlan 1.0\n"; }

}  // namespace vorlan::host
