// The playground page, one self-contained HTML file (its styles and script
// inline, nothing fetched but the service's own endpoints), compiled into
// the binary from playground/playground.html.
#ifndef TESQ_TOOLS_SERVE_PLAYGROUND_PAGE_H
#define TESQ_TOOLS_SERVE_PLAYGROUND_PAGE_H

#include <string_view>

namespace serve {

// The page's bytes (UTF-8), as the source file holds them.
std::string_view Playground_Page();

}  // namespace serve

#endif
