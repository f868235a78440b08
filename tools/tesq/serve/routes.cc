#include "routes.h"

namespace serve {
namespace {

const Endpoint kEndpoints[] = {
    {"/v1/word", "GET, POST", Route::kWord},     {"/v1/search", "GET, POST", Route::kSearch},
    {"/v1/essay", "GET, POST", Route::kEssay},   {"/v1/batch", "POST", Route::kBatch},
    {"/healthz", "GET", Route::kHealthz},        {"/metrics", "GET", Route::kMetrics},
    {"/v1/empty", "GET", Route::kEmpty},         {"/", "GET", Route::kPlayground},
    {"/playground", "GET", Route::kPlayground}};

bool Switched_On(Route route, const Settings &settings) {
  if (route == Route::kEmpty) return settings.empty_handler;
  if (route == Route::kPlayground) return settings.playground;
  return true;
}

}  // namespace

const Endpoint *Find_Endpoint(const std::string &path, const Settings &settings) {
  for (const Endpoint &e : kEndpoints)
    if (path == e.path) return Switched_On(e.route, settings) ? &e : nullptr;
  return nullptr;
}

}  // namespace serve
