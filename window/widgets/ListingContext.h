#pragma once

#include <krm.h>

// An engine context of the application's own, with no plug-ins and the engine's silent error
// handler. Profiles opened while listing a folder live in it, so broken files in a folder raise
// no error dialog. Deletes its context when destroyed.
class context_t
{
public:
    context_t();
    ~context_t();
    context_t(const context_t&) = delete;
    context_t& operator=(const context_t&) = delete;

    krmContext get() const { return context_; }

private:
    krmContext context_ = nullptr;
};

// The process-wide listing context.
krmContext listing_context();
