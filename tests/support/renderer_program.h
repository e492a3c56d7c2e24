#pragma once
// The renderer program the tests load pages with.

#include <cstdlib>
#include <string>

namespace velunor::testing {

/// VELUNOR_RENDERER_PROGRAM when it is set, else the renderer built with the tests
/// (VELUNOR_RENDERER). The sanitizer runs set it to the plain build's renderer: the browser
/// inside is not built with the sanitizers, and its reports are not Velunor's.
inline std::string RendererProgram() {
    const char* chosen = std::getenv("VELUNOR_RENDERER_PROGRAM");
    return chosen != nullptr && *chosen != '\0' ? chosen : VELUNOR_RENDERER;
}

} // namespace velunor::testing
