#include "cli_options.h"

#include "data_dir.h"
#include "platform.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gb2312.h"
#include "vornel/vornel.h"

namespace cli {

namespace {

const Option kHelpOption = {"--help", nullptr, "show this help and exit"};

const Option *Find_Option(const std::vector<Option> &options, const std::string &name) {
  if (name == kHelpOption.name) return &kHelpOption;
  for (const Option &option : options)
    if (name == option.name) return &option;
  return nullptr;
}

// What keeps `path` from being used as a directory, as the end of a
// sentence ("does not exist", "is not a directory"); "" when it is one.
std::string Directory_Problem(const std::string &path) {
  struct stat info;
  if (path.empty()) return "does not exist";
  if (stat(path.c_str(), &info) != 0)
    return errno == ENOENT || errno == ENOTDIR ? std::string("does not exist")
                                               : std::string("cannot be reached: ") + std::strerror(errno);
  return S_ISDIR(info.st_mode) ? "" : "is not a directory";
}


}  // namespace

bool Parse_Args(int argc, char **argv, int first, const std::vector<Option> &options, Parsed_Args *out,
                std::string *error) {
  bool options_done = false;
  for (int i = first; i < argc; ++i) {
    const std::string arg = argv[i];
    if (options_done || arg == "-" || arg.empty() || arg[0] != '-') {
      out->positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_done = true;
      continue;
    }
    std::string name = arg == "-h" ? "--help" : arg;
    std::string value;
    bool has_inline_value = false;
    const size_t equals = name.find('=');
    if (name.compare(0, 2, "--") == 0 && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
      has_inline_value = true;
    }
    const Option *option = Find_Option(options, name);
    if (option == nullptr) {
      *error = "unknown option '" + name + "'";
      return false;
    }
    if (option->value_name == nullptr) {
      if (has_inline_value) {
        *error = "option '" + name + "' takes no value";
        return false;
      }
    } else if (!has_inline_value) {
      if (i + 1 >= argc) {
        *error = "option '" + name + "' needs a value (" + option->value_name + ")";
        return false;
      }
      value = argv[++i];
    }
    out->values[name] = value;
  }
  return true;
}

std::string Options_Help(const std::vector<Option> &options) {
  std::vector<const Option *> all;
  for (const Option &option : options) all.push_back(&option);
  all.push_back(&kHelpOption);
  size_t width = 0;
  for (const Option *option : all) {
    const size_t w = std::strlen(option->name) + (option->value_name ? 1 + std::strlen(option->value_name) : 0);
    if (w > width) width = w;
  }
  std::string text = "options:\n";
  for (const Option *option : all) {
    std::string left = option->name;
    if (option->value_name != nullptr) left += std::string(" ") + option->value_name;
    text += "  " + left + std::string(width - left.size() + 2, ' ') + option->help + "\n";
  }
  return text;
}

const std::vector<Option> &Service_Options() {
  static const std::vector<Option> kOptions = {
      {"--encoding", "ENC", "terminal text is utf-8 (default) or gb2312 (raw bytes both ways)"},
      {"--data-dir", "DIR", "dictionary directory (default: $TESQ_DATA_DIR, else the installed data)"},
      {"--db", "DATABASE",
       "term database: a file or a postgresql:// URI (default: $TESQ_DB, else terms.db in the data directory)"},
  };
  return kOptions;
}

bool Parse_Encoding(const std::string &name, Encoding *encoding) {
  if (name == "utf-8" || name == "utf8" || name == "UTF-8") {
    *encoding = Encoding::kUtf8;
    return true;
  }
  if (name == "gb2312" || name == "GB2312") {
    *encoding = Encoding::kGb2312;
    return true;
  }
  return false;
}

bool To_Gb(const std::string &text, Encoding encoding, std::string *gb, std::string *error, size_t text_offset,
           size_t gb_offset) {
  if (encoding == Encoding::kGb2312) {
    *gb = text;
  } else if (!gb::Utf8_To_Gb(text, gb, error, text_offset)) {
    return false;
  }
  const size_t nul = gb->find('\0');
  if (nul != std::string::npos) {
    *error = "the text contains a NUL byte at byte " + std::to_string(gb_offset + nul);
    return false;
  }
  return true;
}

std::string From_Gb(const std::string &gb, Encoding encoding) {
  if (encoding == Encoding::kGb2312) return gb;
  std::string out;
  gb::Gb_To_Utf8(gb, &out, nullptr, /*lenient=*/true);
  return out;
}

bool Apply_Service_Options(const Parsed_Args &args, std::string *error) {
  if (args.Has("--data-dir")) {
    const std::string dir = args.Get("--data-dir");
    const std::string problem = Directory_Problem(dir);
    if (!problem.empty()) {
      *error = "data directory '" + dir + "' " + problem;
      return false;
    }
    tesq::Set_Environment("TESQ_DATA_DIR", dir.c_str());
  }
  if (args.Has("--db")) {
    const std::string db = args.Get("--db");
    // A PostgreSQL URI is handed on as it is (the store reports what is
    // wrong with it, once). A file is only read: a missing file is a
    // mistake, never a new empty database; anything but a regular file (a
    // FIFO would block every lookup) is refused.
    const tesq::File_Identity identity = tesq::Identify_File(db.c_str());
    if (tesq::Is_Postgres_Uri(db.c_str())) {
      // nothing to check here
    } else if (db.empty() || !identity.known) {
      *error = "term database '" + db + "' " +
               (db.empty() || identity.error == ENOENT ? std::string("does not exist") : std::strerror(identity.error));
      return false;
    } else if (!identity.regular) {
      *error = "term database '" + db + "' " +
               (identity.directory ? "is a directory, not a term database" : "is not a regular file");
      return false;
    }
    tesq::Set_Environment("TESQ_DB", db.c_str());
  }
  return true;
}

bool Write_Stdout(const std::string &bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() && std::fflush(stdout) == 0;
}

std::string Json_String(const std::string &utf8) {
  std::string out = "\"";
  for (const char ch : utf8) {
    const unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += ch;
        }
    }
  }
  return out + "\"";
}

std::string Tag_Name(int tag) {
  switch (tag) {
    case VORNEL_TAG_ADJECTIVE: return "adjective";
    case VORNEL_TAG_ADVERB: return "adverb";
    case VORNEL_TAG_NUMERAL: return "numeral";
    case VORNEL_TAG_PERSON: return "person";
    case VORNEL_TAG_PLACE: return "place";
    case VORNEL_TAG_ORGANISATION: return "organisation";
    case VORNEL_TAG_PREPOSITION: return "preposition";
    case VORNEL_TAG_PRONOUN: return "pronoun";
    case VORNEL_TAG_CONJUNCTION: return "conjunction";
    case VORNEL_TAG_AUXILIARY: return "auxiliary";
    case VORNEL_TAG_MODAL: return "modal particle";
    case VORNEL_TAG_INTERJECTION: return "interjection";
    case VORNEL_TAG_PUNCTUATION: return "punctuation";
    default: return "tag" + std::to_string(tag);
  }
}

size_t Next_Piece_End(const char *gb, size_t size, size_t limit) {
  if (limit < 2) limit = 2;
  if (size <= limit) return size;
  // Walk whole characters up to the limit, noting the best places to cut:
  // after a line feed, else after white space, ASCII punctuation or the
  // full-width marks (row A1: 、。 and the like; ！，．：；？ of row A3).
  const size_t half = limit / 2;
  size_t pos = 0, after_line = 0, after_soft = 0;
  while (pos < size) {
    const size_t length = gb::Char_Length(gb + pos, size - pos);
    if (pos + length > limit) break;
    const unsigned char lead = static_cast<unsigned char>(gb[pos]);
    pos += length;
    if (lead == '\n') {
      after_line = pos;
    } else if (length == 1 ? std::memchr(" \t\r,.;:!?", lead, 10) != nullptr
                           : lead == 0xA1 || (lead == 0xA3 && std::memchr("\xA1\xAC\xAE\xBA\xBB\xBF",
                                                                        static_cast<unsigned char>(gb[pos - 1]), 6))) {
      after_soft = pos;
    }
  }
  if (after_line > half) return after_line;
  if (after_soft > half) return after_soft;
  return pos;
}

std::vector<size_t> Split_Pieces(const std::string &gb, size_t limit) {
  std::vector<size_t> ends;
  for (size_t start = 0; start < gb.size();) {
    start += Next_Piece_End(gb.data() + start, gb.size() - start, limit);
    ends.push_back(start);
  }
  return ends;
}

}  // namespace cli
