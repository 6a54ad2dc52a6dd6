#include "window/widgets/ListingContext.h"

context_t::context_t()
    : context_(krmCreateContext(nullptr, nullptr))
{
}

context_t::~context_t()
{
    if (context_)
        krmDeleteContext(context_);
}

krmContext listing_context()
{
    // Made on first use rather than during static initialisation, which would race the engine's
    // own start-up.
    static context_t context;
    return context.get();
}
