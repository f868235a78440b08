// A lean in-process stand-in for the dictionary service and segmenter, for
// the essay benchmark only: hashed dictionaries and a scripted segmentation,
// so that the service's own cost stays small and constant per call.
#ifndef TESQ_BENCH_ESSAY_BENCH_VORNEL_H
#define TESQ_BENCH_ESSAY_BENCH_VORNEL_H

#include <cstdint>
#include <string>
#include <vector>

namespace bench_vornel {

void Add(const std::string &dictionary, const std::string &word, const std::string &info);
// KV_Word_Sect answers every text with this segmentation.
void Script(std::vector<int32_t> ends, std::vector<int16_t> tags);

}  // namespace bench_vornel

#endif
