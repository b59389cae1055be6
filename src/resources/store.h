// Storing a compiled resource: its bytes go to the resource area and its
// offset into the directory of its kind, page and number.
#pragma once

#include <cstdint>

namespace vexa::command {
struct Context;
}

namespace vexa::resources {

// Free when the directory entry (page, number) of kind holds no resource.
bool resource_free(const command::Context& ctx, int kind, int page, int number);

// Copies size bytes to the resource area and registers them. Returns 0 after
// reporting "DATA-FLASH memory overflow !" when they no longer fit.
int store_resource(command::Context& ctx, int kind, int page, int number, const std::uint8_t* bytes, std::size_t size);

}  // namespace vexa::resources
