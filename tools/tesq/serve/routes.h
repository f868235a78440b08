// The paths tesq serve answers and the methods each takes: the one list that
// routing, the Allow header and the metrics' endpoint label read. Finding a
// route is a comparison of the path against each entry, the library's
// endpoints first, so the page and the benchmark's endpoint cost the others
// nothing.
#ifndef TESQ_TOOLS_SERVE_ROUTES_H
#define TESQ_TOOLS_SERVE_ROUTES_H

#include <string>

#include "http_worker.h"

namespace serve {

enum class Route { kWord, kSearch, kEssay, kBatch, kHealthz, kMetrics, kEmpty, kPlayground };

struct Endpoint {
  const char *path;
  const char *allow;  // the methods taken, as the Allow header lists them
  Route route;
};

// The endpoint of `path` under `settings`, or nullptr when none serves it:
// /v1/empty only with empty_handler, / and /playground only with
// playground. The path is matched whole (no query string, no trailing
// slash taken off).
const Endpoint *Find_Endpoint(const std::string &path, const Settings &settings);

}  // namespace serve

#endif
