#pragma once

// Decoding an image file off the user-interface thread: a large photo takes a second or more,
// during which the floating gauge shows how far the decoder got and its Cancel stops it.

#include "imaging/ImageDecoder.h"

class QWidget;

// `bytes` decoded on a thread of its own; the gauge appears over `parent` when it takes longer
// than a moment. On Cancel the result is null with `cancelled` set at once: a decoder that
// cannot stop finishes on its own and its image is dropped. A call while another decodes is
// refused the same way.
DecodeResult decodeWithGauge(const QByteArray& bytes, const QString& shownName, QWidget* parent);
