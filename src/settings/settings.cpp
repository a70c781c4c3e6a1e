#include "settings/settings.h"

#include <cerrno>
#include <cmath>
#include <cctype>
#include <cstdlib>
#include <iostream>

#include "diag/log.h"
#include "diag/strings.h"
#include "oracle/identifier.h"
#include "shape/gtype.h"

std::map<std::string, std::string> g_args;

double g_shp_null_vertex = 1e-306;

const char* const TARVEX_VERSION = "1.3.0";

namespace {

enum OptionKind { VALUE_OPTION, SWITCH_OPTION, MNULL_OPTION, FORCETYPE_OPTION };

struct Option {
    const char* shortName;
    const char* longName;
    const char* key;
    OptionKind kind;
    const char* caseMode;   // value options only
    const char* debugText;  // own trace line after the option is applied, or null
    LogLevel debugLevel;
};

// Tested in this order; the first match wins.
const Option OPTIONS[] = {
    {"-g", "--geom", "geom_column", VALUE_OPTION, "upper", nullptr, LOG_DEBUG},
    {"-t", "--table", "table", VALUE_OPTION, "identifier", nullptr, LOG_DEBUG},
    {"-s", "--schema", "owner", VALUE_OPTION, "identifier", nullptr, LOG_DEBUG},
    {"-q", "--query", "sql", VALUE_OPTION, "none", nullptr, LOG_DEBUG},
    {"-o", "--output", "shapefile", VALUE_OPTION, "none", nullptr, LOG_DEBUG},
    {"-d", "--datefmt", "date_fmt", VALUE_OPTION, "none", nullptr, LOG_DEBUG},
    {"-r", "--innerring", "inner_ring_check", SWITCH_OPTION, "",
     "parseArgs::inner_ring_check assigned value : ", LOG_DETAILED},
    {"-p", "--proj", "output_proj", SWITCH_OPTION, "",
     "parseArgs::output_proj assigned value : ", LOG_DETAILED},
    {"-x", "--timings", "output_timings", SWITCH_OPTION, "",
     "parseArgs::output_timings assigned value : ", LOG_DETAILED},
    {"-i", "--ignore", "ignore", SWITCH_OPTION, "", "parseArgs::ignore assigned value : ",
     LOG_DEBUG},
    {"-m", "--mnull", "mnull", MNULL_OPTION, "none", "parseArgs::mnull assigned value : ",
     LOG_DEBUG},
    {"-f", "--forcetype", "forcetype", FORCETYPE_OPTION, "none", nullptr, LOG_DEBUG},
    {"-n", "--nofree", "nofree", SWITCH_OPTION, "", "parseArgs::nofree assigned value : ",
     LOG_DEBUG},
    {"-a", "--arcs", "arcs", VALUE_OPTION, "none", nullptr, LOG_DEBUG},
    {"-e", "--esriprj", "esri_prj", SWITCH_OPTION, "", "parseArgs::esri_prj assigned value : ",
     LOG_DETAILED},
    {"-j", "--jobs", "jobs", VALUE_OPTION, "none", nullptr, LOG_DEBUG},
    // Long form only.
    {nullptr, "--progress", "progress", SWITCH_OPTION, "", "parseArgs::progress assigned value : ",
     LOG_DETAILED},
};

// Reads a setting without inserting an entry for a key never set.
std::string valueOf(const std::map<std::string, std::string>& p_args, const std::string& p_key) {
    auto it = p_args.find(p_key);
    return it == p_args.end() ? std::string() : it->second;
}

const Option* findOption(const std::string& p_token) {
    for (const Option& option : OPTIONS) {
        if ((option.shortName != nullptr && p_token == option.shortName) || p_token == option.longName) {
            return &option;
        }
    }
    return nullptr;
}

// A value for "-m": the whole text is one finite number.
bool readMNull(const std::string& p_text, double& p_value) {
    if (p_text.empty() || std::isspace(static_cast<unsigned char>(p_text[0]))) return false;
    errno = 0;
    char* end = nullptr;
    double value = std::strtod(p_text.c_str(), &end);
    if (end == nullptr || *end != '\0' || errno == ERANGE || !std::isfinite(value)) return false;
    p_value = value;
    return true;
}

// A value for "-f": the decimal number of a shape type the catalogue knows.
bool readShapeType(const std::string& p_text) {
    if (p_text.empty() || p_text.size() > 3) return false;
    for (char c : p_text) {
        if (c < '0' || c > '9') return false;
    }
    return isKnownShapeType(std::atoi(p_text.c_str()));
}

// The name a table gives its output set: lower case, path separators,
// control characters and leading dots replaced by "_".
std::string fileNameFromTable(const std::string& p_table) {
    std::string name = p_table;
    lower(name);
    return safeFileNamePart(name);
}

// A number of degrees in (0, 90], written as a plain decimal number.
bool isArcLimit(const std::string& p_text) {
    if (p_text.empty() || p_text.find_first_not_of("0123456789.+-eE") != std::string::npos) return false;
    char* end = nullptr;
    const double degrees = std::strtod(p_text.c_str(), &end);
    return end != nullptr && *end == '\0' && degrees > 0 && degrees <= 90;
}

}  // namespace

int maxArgumentCount() {
    int count = 2;  // the program and the connect string
    for (const Option& option : OPTIONS) count += option.kind == SWITCH_OPTION ? 1 : 2;
    return count;
}

bool parseArgs(int argc, char** argv, std::map<std::string, std::string>& p_args) {
    bool result = true;

    if (argc == 1) return interactiveMode(p_args);
    if (argc < 2 || argv == nullptr || argv[1] == nullptr) {
        tvLog("Incorrect number of arguments : ", argc, LOG_ERROR);
        return false;
    }

    // The first argument is always the connect string, whatever it looks like.
    std::string full_connect(argv[1]);
    std::string user;
    std::string password;
    std::string service;
    parseConnectString(full_connect, user, password, service);
    tvLog("parseArgs::full_connect_string : ", maskConnectString(full_connect), LOG_DEBUG);

    p_args["connect_string"] = service;
    p_args["username"] = user;
    p_args["password"] = password;
    std::string reason;
    if (checkConnectString(full_connect, reason)) {
        tvLog("parseArgs::connect_string : ", service, LOG_DETAILED);
        tvLog("parseArgs::user : ", user, LOG_DETAILED);
        tvLog("parseArgs::pwd : ", std::string("<password>"), LOG_DETAILED);
    } else {
        // Not traced further: what was typed may hold a misplaced password.
        tvLog("Connect string must be of the form user/password@service : ", reason, LOG_ERROR);
        result = false;
    }

    for (int i = 2; i < argc; ++i) {
        if (argv[i] == nullptr) continue;
        std::string token(argv[i]);
        if (!token.empty() && token[0] == '-') lower(token);

        const Option* option = findOption(token);
        if (option == nullptr) {
            // Ignored, but not silently: a mistyped option would be lost.
            if (!token.empty() && token[0] == '-') {
                tvLog("[WARNING] Unknown option ignored : ", std::string(argv[i]), LOG_BASIC);
            } else {
                tvLog("[WARNING] Unexpected argument ignored : ", std::string(argv[i]), LOG_BASIC);
            }
            continue;
        }

        switch (option->kind) {
            case VALUE_OPTION:
            case MNULL_OPTION:
            case FORCETYPE_OPTION: {
                if (!result) break;
                std::string value;
                result = extractArgValue(argc, argv, &i, option->caseMode, option->key, value);
                if (!result) break;
                const std::string typed = argv[i] == nullptr ? std::string() : std::string(argv[i]);
                if (std::string(option->caseMode) == "identifier" &&
                    !(option->key == std::string("table") && value == "*")) {
                    if (!readIdentifierArgument(typed, value)) {
                        tvLog(std::string(option->key == std::string("table") ? "Table" : "Schema") +
                                  " name must be a plain name or a name in double quotes, " +
                                  option->shortName + " : ",
                              typed, LOG_ERROR);
                        result = false;
                        break;
                    }
                }
                if (option->kind == MNULL_OPTION) {
                    double number = 0;
                    if (!readMNull(value, number)) {
                        tvLog("Value of -m must be a finite number : ", value, LOG_ERROR);
                        result = false;
                        break;
                    }
                    g_shp_null_vertex = number;
                }
                if (option->kind == FORCETYPE_OPTION && !readShapeType(value)) {
                    tvLog("Value of -f must be a shape type number (1, 3, 5, 8, 11, 13, 15, 18, 21, 23, "
                          "25, 28 or 31) : ",
                          value, LOG_ERROR);
                    result = false;
                    break;
                }
                p_args[option->key] = value;
                break;
            }
            case SWITCH_OPTION:
                p_args[option->key] = "yes";
                break;
        }
        if (option->debugText != nullptr) {
            tvLog(option->debugText, valueOf(p_args, option->key), option->debugLevel);
        }
    }

    if (result) {
        if (valueOf(p_args, "table").empty() &&
            (valueOf(p_args, "sql").empty() || valueOf(p_args, "geom_column").empty() ||
             valueOf(p_args, "shapefile").empty())) {
            result = false;
            tvLog("Insufficient arguments supplied.", std::string(), LOG_ERROR);
            tvLog("Must supply at minimum -t, or -q with -g and -o", std::string(), LOG_ERROR);
        }
    }

    if (result && p_args.count("arcs") != 0 && !isArcLimit(valueOf(p_args, "arcs"))) {
        tvLog("Arc limit must be a number of degrees above 0 and at most 90 : ", valueOf(p_args, "arcs"),
              LOG_ERROR);
        result = false;
    }

    if (result && p_args.count("jobs") != 0 && parseJobCount(valueOf(p_args, "jobs")) == 0) {
        tvLog("Jobs must be a whole number from 1 to 64 : ", valueOf(p_args, "jobs"), LOG_ERROR);
        result = false;
    }

    // -e only changes how the .prj of -p is written; alone it would be lost.
    if (result && valueOf(p_args, "esri_prj") == "yes" && valueOf(p_args, "output_proj") != "yes") {
        tvLog("[WARNING] -e has no effect without -p : ", std::string("no .prj is written"), LOG_BASIC);
    }
    // "*" wins over a free query, which would otherwise be dropped unseen.
    if (result && valueOf(p_args, "table") == "*" && !valueOf(p_args, "sql").empty()) {
        tvLog("[WARNING] -q has no effect with -t \"*\" : ",
              std::string("every table of the spatial metadata is exported"), LOG_BASIC);
    }

    std::string table = valueOf(p_args, "table");
    if (!table.empty() && valueOf(p_args, "shapefile").empty()) {
        std::string name = table == "*" ? table : fileNameFromTable(table);
        p_args["shapefile"] = name;
        tvLog("parseArgs::shapefile (implied) : ", name, LOG_DETAILED);
    }

    // An output directory (ending in "/") holds the set named after the
    // table, as in "*" mode; a free query alone gives no name for it.
    const std::string output = valueOf(p_args, "shapefile");
    if (result && !output.empty() && output.back() == '/' && table != "*") {
        if (table.empty()) {
            tvLog("Output names a directory; a free query needs an output file name, or -t to name the set : ",
                  output, LOG_ERROR);
            result = false;
        } else {
            p_args["shapefile"] = output + fileNameFromTable(table);
            tvLog("parseArgs::shapefile (in directory) : ", p_args["shapefile"], LOG_DETAILED);
        }
    }

    return result;
}

int parseJobCount(const std::string& p_value) {
    if (p_value.empty() || p_value.size() > 2) return 0;
    int count = 0;
    for (char c : p_value) {
        if (c < '0' || c > '9') return 0;
        count = count * 10 + (c - '0');
    }
    return count >= 1 && count <= TARVEX_MAX_JOBS ? count : 0;
}

bool extractArgValue(int argc, char** argv, int* p_index, std::string p_case,
                     std::string p_key, std::string& p_value) {
    if (p_index == nullptr || argv == nullptr) return false;
    int index = *p_index;
    if (index + 1 < argc && argv[index + 1] != nullptr) {
        std::string value(argv[index + 1]);
        *p_index = index + 1;
        // A name in double quotes keeps its letter case.
        if (p_case == "upper" || (p_case == "identifier" && (value.empty() || value[0] != '"'))) {
            upper(value);
        } else if (p_case == "lower") {
            lower(value);
        }
        tvLog("parseArgs::" + p_key + " assigned value : ", value, LOG_DETAILED);
        p_value = value;
        return true;
    }
    std::string option = (index >= 0 && index < argc && argv[index] != nullptr) ? argv[index] : "";
    tvLog("Error extracting argument value for : ", option, LOG_ERROR);
    return false;
}

std::string getArg(std::map<std::string, std::string>& p_args, std::string p_key,
                   std::string p_default, bool p_upper) {
    std::string result = p_default;
    std::string value = valueOf(p_args, p_key);
    if (!value.empty()) {
        result = value;
        if (p_upper) upper(result);
    }
    return result;
}

InfoRequest infoRequest(int argc, char** argv) {
    if (argc != 2 || argv == nullptr || argv[1] == nullptr) return INFO_NONE;
    std::string token(argv[1]);
    lower(token);
    if (token == "-h" || token == "--help") return INFO_HELP;
    if (token == "-v" || token == "--version") return INFO_VERSION;
    return INFO_NONE;
}

void Usage(std::string p_program, bool p_always) {
    if (g_log_level == LOG_SILENT && !p_always) return;
    std::ostream& out = std::cout;
    out << std::endl;
    out << "TARVEX.  " << TARVEX_VERSION << std::endl;
    out << "Usage notes : " << std::endl;
    out << "   " << p_program << " <connect string> [options]" << std::endl;
    out << std::endl;
    out << "Where [options] are : " << std::endl;
    out << "  -g --geom      : geometry column" << std::endl;
    out << "  -t --table     : table" << std::endl;
    out << "  -s --schema    : table owner / schema" << std::endl;
    out << "  -q --query     : sql" << std::endl;
    out << "  -o --output    : output shapefile name or directory if table is '*'" << std::endl;
    out << "  -p --proj      : output a .prj file" << std::endl;
    out << "  -x --timings   : output timings" << std::endl;
    out << "  -d --datefmt   : format string to use when exporting DATE and TIMESTAMP fields"
        << std::endl;
    out << "                   default is \"dd/mm/yyyy hh:mi:ss\"" << std::endl;
    out << "  -i --ignore    : ignore unsupported geometry errors" << std::endl;
    out << "  -m --mnull     : value to use when M dimension is NULL (default is 10e-307)"
        << std::endl;
    out << "  -r --innerring : check for inner-rings inside polygons (requires use of -t and -s)"
        << std::endl;
    out << "  -a --arcs      : convert arcs, circles and rectangles, each segment spanning at most"
        << " DEGREES (0 < DEGREES <= 90)" << std::endl;
    out << "  -e --esriprj   : write the .prj in ESRI's WKT dialect, found from the EPSG code (with -p)"
        << std::endl;
    out << "  -h --help      : print these notes (alone on the command line)" << std::endl;
    out << "  -V --version   : print the version and the Oracle client (alone on the command line)"
        << std::endl;
    out << "  -j --jobs      : with -t '*', run up to N exports at once; with -t TABLE, read it over N"
           " connections (1 to 64, default 1)"
        << std::endl;
    out << "     --progress  : show rows written, rows per second and elapsed time of each export"
        << std::endl;
    out << std::endl;
    out << "e.g" << std::endl;
    out << " tarvex gisrw/amber@pdb1 -t cities -o cities" << std::endl;
    out << " tarvex gisrw/amber@pdb1 -q \"select cityname,geom from cities\" -g geom -o city"
        << std::endl;
    out << " tarvex gisrw/amber@pdb1 -t \"*\" -o /tmp/ -p -i" << std::endl;
    out << " tarvex gisrw/amber@pdb1 -t cities -d \"dd/mm/yyyy hh:mi:ss\"" << std::endl;
}
