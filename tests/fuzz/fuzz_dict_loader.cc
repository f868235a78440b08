// The loaders of libvornel's compiled files (vornel_core): dictionaries and
// the segmenter lexicon, on damaged and hostile images.
//
// Input: a mode byte, then the image or its parts.
//   mode 0, 1: the rest is a whole dictionary / lexicon file, header
//              included (most are rejected by the header checks);
//   mode 2, 3: twelve bytes of header counts (count, aux1, aux2), then the
//              payload; the header is completed with the right magic,
//              version, size and checksum, so the payload checks are reached.
// Whatever loads is then used: every dictionary entry's word is looked up,
// and so are slices of the input; a lexicon segments the input as text.
// Property: no read outside the image (AddressSanitizer), and a loaded
// dictionary finds each of its own words.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dictionary.h"
#include "format.h"
#include "fuzz_support.h"
#include "lexicon.h"
#include "segmenter.h"

namespace {

vornel::Blob Image(const char magic[8], fuzz::Input *in, bool fix_header) {
  if (!fix_header) {
    vornel::Blob blob(in->Size());
    if (in->Size() > 0) std::memcpy(blob.Data(), in->Data(), in->Size());
    return blob;
  }
  const uint32_t count = in->U32(), aux1 = in->U32(), aux2 = in->U32();
  const vornel::File_Header header =
      vornel::Make_Header(magic, count, aux1, aux2, -12.5, in->Data(), in->Size());
  vornel::Blob blob(vornel::kHeader_Size + in->Size());
  std::memcpy(blob.Data(), &header, sizeof header);
  if (in->Size() > 0) std::memcpy(blob.Data() + vornel::kHeader_Size, in->Data(), in->Size());
  return blob;
}

void Use_Dictionary(const vornel::Dictionary &dict, const uint8_t *data, size_t size) {
  size_t info_size = 0;
  for (size_t start = 0; start < size; start += 7) {
    for (size_t n = 1; n <= 8 && start + n <= size; ++n)
      dict.Find(reinterpret_cast<const char *>(data + start), n, &info_size);
  }
}

void Use_Lexicon(const vornel::Lexicon &lexicon, const uint8_t *data, size_t size) {
  // Every assigned Han character once, then the input as text.
  std::string text;
  for (int lead = 0xB0; lead <= 0xF7; ++lead)
    for (int trail = 0xA1; trail <= 0xFE; trail += 13) {
      text.push_back(static_cast<char>(lead));
      text.push_back(static_cast<char>(trail));
    }
  text.append(reinterpret_cast<const char *>(data), size);
  std::vector<int32_t> ends(text.size() + 1);
  std::vector<int16_t> tags(text.size() + 1);
  const long words = vornel::Segment(lexicon, text.data(), text.size(), ends.data(), tags.data(), ends.size());
  FUZZ_CHECK(words > 0);
  FUZZ_CHECK(static_cast<size_t>(ends[words - 1]) == text.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::Input in(data, size);
  const uint8_t mode = in.Byte() % 4;
  const bool lexicon = mode % 2 == 1;
  const bool fix_header = mode >= 2;
  std::string error;
  const uint8_t *text = in.Data();
  const size_t text_size = in.Size();
  if (!lexicon) {
    auto dict = vornel::Dictionary::From_Blob(Image(vornel::kDictionary_Magic, &in, fix_header), &error);
    if (dict == nullptr) {
      FUZZ_CHECK(!error.empty());
      return 0;
    }
    Use_Dictionary(*dict, text, text_size);
  } else {
    auto lex = vornel::Lexicon::From_Blob(Image(vornel::kLexicon_Magic, &in, fix_header), &error);
    if (lex == nullptr) {
      FUZZ_CHECK(!error.empty());
      return 0;
    }
    Use_Lexicon(*lex, text, text_size);
  }
  return 0;
}
