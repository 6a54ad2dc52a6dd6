#pragma once

// Owners of the engine's profiles, transforms and contexts, so a computation frees them however
// it ends.

#include <krm.h>

#include <memory>
#include <type_traits>

struct ProfileCloser {
    void operator()(krmProfile profile) const { krmCloseProfile(profile); }
};
using ProfilePtr = std::unique_ptr<std::remove_pointer_t<krmProfile>, ProfileCloser>;

struct TransformDeleter {
    void operator()(krmTransform transform) const { krmDeleteTransform(transform); }
};
using TransformPtr = std::unique_ptr<std::remove_pointer_t<krmTransform>, TransformDeleter>;

struct ContextDeleter {
    void operator()(krmContext context) const { krmDeleteContext(context); }
};
using ContextPtr = std::unique_ptr<std::remove_pointer_t<krmContext>, ContextDeleter>;
