#include "base/ReadingSink.h"

namespace {
ReadingSink *s_readingSink = nullptr;
}

ReadingSink *ReadingSink::Instance()
{
    return s_readingSink;
}

ReadingSink *ReadingSink::Install(ReadingSink *sink)
{
    ReadingSink *old = s_readingSink;
    s_readingSink = sink;
    return old;
}
