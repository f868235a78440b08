#include "essay_stream.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "library_calls.h"
#include "progress.h"
#include "tesqsrch/tesqsrch.h"

namespace cli {

namespace {

// Input is read in blocks of this size; converted at the last line feed of
// what is at hand, or, in a line longer than this, at a character boundary.
constexpr size_t kRead_Bytes = 64 * 1024;

// Segments one piece into `words`. Returns false after a message when the
// library fails or answers with an inconsistent segmentation; `base` places
// the piece in the whole text for messages.
bool Essay_Piece(const std::string &piece, size_t base, std::vector<Essay_Word> *words) {
  Piece_Segmentation how;
  const bool ok = Segment_Piece(piece, words, &how);
  if (how.bad_end) {
    std::fprintf(stderr, "tesq essay: the library returned a word ending at byte %zu after byte %zu\n",
                 base + how.bad_end_at, base + how.bad_start);
    return false;
  }
  if (!ok) {
    std::fprintf(stderr, "tesq essay: segmentation failed near byte %zu (result %d)\n", base, how.result);
    return false;
  }
  if (how.result == 4) std::fprintf(stderr, "tesq essay: too many names near byte %zu; that part is shown unmerged\n", base);
  if (how.covered < piece.size()) {
    // Bytes the segmentation does not cover stay visible as a word of their
    // own rather than vanish from the output.
    std::fprintf(stderr, "tesq essay: bytes %zu to %zu were left out of the segmentation\n", base + how.covered,
                 base + piece.size());
  }
  return true;
}

bool Is_Space(const char *bytes, size_t size) {
  for (size_t i = 0; i < size; ++i)
    if (std::memchr(" \t\r\n\f\v", bytes[i], 6) == nullptr) return false;
  return true;
}

// Inline: word/tag pairs separated by spaces; a white space word prints
// only its line feeds. `line_has_words` carries over from piece to piece.
void Inline_Words(const std::string &piece, const std::vector<Essay_Word> &words, Encoding encoding,
                  bool *line_has_words, std::string *out) {
  for (const Essay_Word &word : words) {
    const char *bytes = piece.data() + word.start;
    const size_t size = word.end - word.start;
    if (Is_Space(bytes, size)) {
      for (size_t i = 0; i < size; ++i)
        if (bytes[i] == '\n') {
          *out += '\n';
          *line_has_words = false;
        }
      continue;
    }
    if (*line_has_words) *out += ' ';
    *out += From_Gb(std::string(bytes, size), encoding) + "/" + std::to_string(word.tag);
    *line_has_words = true;
  }
}

void Json_Words(const std::string &piece, size_t base, const std::vector<Essay_Word> &words, std::string *out) {
  for (const Essay_Word &word : words) {
    // JSON text is UTF-8 whatever the terminal encoding.
    const std::string utf8 = From_Gb(piece.substr(word.start, word.end - word.start), Encoding::kUtf8);
    *out += "{\"text\":" + Json_String(utf8) + ",\"tag\":" + std::to_string(word.tag) +
            ",\"tag_name\":" + Json_String(Tag_Name(word.tag)) + ",\"start\":" + std::to_string(base + word.start) +
            ",\"end\":" + std::to_string(base + word.end) + "}\n";
  }
}

// How many leading bytes of `raw` (terminal text not yet converted) to
// convert now: up to its last line feed; in a longer line without one, up to
// its last character boundary; nothing while a short line is incomplete.
size_t Convertible(const std::string &raw, Encoding encoding) {
  if (encoding == Encoding::kGb2312) return raw.size();  // converted as it is
  const size_t line_end = raw.rfind('\n');
  if (line_end != std::string::npos) return line_end + 1;
  if (raw.size() < kRead_Bytes) return 0;
  size_t boundary = raw.size();
  // Back over UTF-8 continuation bytes to the start of the last character,
  // which may be incomplete; at most three steps in valid text.
  while (boundary > 0 && raw.size() - boundary < 4 &&
         (static_cast<unsigned char>(raw[boundary - 1]) & 0xC0) == 0x80)
    --boundary;
  return boundary > 0 ? boundary - 1 : raw.size();
}

bool Write(FILE *out, const std::string &bytes) {
  return bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
}

}  // namespace

int Essay_Stream(FILE *in, const std::string &name, FILE *out, const Essay_Options &options) {
  Progress progress("tesq essay", options.input_size, options.progress && options.input_size > options.piece_bytes);
  bool started = false;
  const auto start = [&]() {
    if (started) return true;
    started = true;
    return !options.start_library || options.start_library();
  };
  std::string raw;        // terminal text read and not yet converted
  std::string pending;    // GB2312 text converted and not yet segmented
  size_t raw_done = 0;    // terminal bytes converted (after a byte order mark)
  size_t read_done = 0;   // bytes read, for the progress bar
  size_t base = 0;        // offset of pending[0] in the whole GB2312 text
  bool first_block = true;
  bool line_has_words = false;
  std::vector<Essay_Word> words;
  std::string formatted;
  std::vector<char> block(kRead_Bytes);
  for (bool at_end = false; !at_end;) {
    const size_t n = std::fread(block.data(), 1, block.size(), in);
    if (n == 0) {
      if (std::ferror(in)) {
        std::fprintf(stderr, "tesq essay: read error on '%s'\n", name.c_str());
        return kExit_Failed;
      }
      at_end = true;
    }
    raw.append(block.data(), n);
    read_done += n;
    if (first_block && options.encoding == Encoding::kUtf8) {
      // A UTF-8 byte order mark is not part of the text.
      if (raw.size() < 3 && !at_end) continue;
      if (raw.compare(0, 3, "\xEF\xBB\xBF") == 0) raw.erase(0, 3);
    }
    first_block = false;
    const size_t take = at_end ? raw.size() : Convertible(raw, options.encoding);
    if (take > 0) {
      std::string gb;
      std::string error;
      if (!To_Gb(raw.substr(0, take), options.encoding, &gb, &error, raw_done, base + pending.size())) {
        std::fprintf(stderr, "tesq essay: the input cannot be given to the library: %s\n", error.c_str());
        return kExit_Usage;
      }
      raw.erase(0, take);
      raw_done += take;
      pending += gb;
    }
    while (pending.size() > options.piece_bytes || (at_end && !pending.empty())) {
      const size_t end = Next_Piece_End(pending.data(), pending.size(), options.piece_bytes);
      const std::string piece = pending.substr(0, end);
      if (!start()) return kExit_Failed;
      if (!Essay_Piece(piece, base, &words)) return kExit_Failed;
      formatted.clear();
      if (options.format == Essay_Format::kJson) {
        Json_Words(piece, base, words, &formatted);
      } else {
        Inline_Words(piece, words, options.encoding, &line_has_words, &formatted);
      }
      if (!Write(out, formatted)) {
        std::fprintf(stderr, "tesq essay: write error on standard output\n");
        return kExit_Failed;
      }
      pending.erase(0, end);
      base += end;
      progress.Update(read_done - raw.size());
    }
  }
  if (!start()) return kExit_Failed;
  progress.Finish();
  if (options.format == Essay_Format::kInline && line_has_words && !Write(out, "\n")) {
    std::fprintf(stderr, "tesq essay: write error on standard output\n");
    return kExit_Failed;
  }
  if (std::fflush(out) != 0 || std::ferror(out)) {
    std::fprintf(stderr, "tesq essay: write error on standard output\n");
    return kExit_Failed;
  }
  return kExit_Ok;
}

}  // namespace cli
