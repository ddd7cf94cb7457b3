// The studio's page, style sheet, script and example picture, compiled into
// the program (see embed_assets.cmake), looked up by their exact URL path.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace gridwave::studio {

struct WebAsset {
  const char* path;          // URL path, "/" for the page
  const char* content_type;  // the Content-Type it is served with
  const unsigned char* data;
  std::size_t size;
};

const std::vector<WebAsset>& web_assets();

// The asset at exactly this path, or nullptr: paths are never resolved,
// decoded again or joined, so "/../x" or "/%2e%2e/x" simply match nothing.
inline const WebAsset* find_web_asset(std::string_view path) {
  for (const WebAsset& asset : web_assets())
    if (path == asset.path) return &asset;
  return nullptr;
}

}  // namespace gridwave::studio
