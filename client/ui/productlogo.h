#pragma once

#include <QPixmap>

namespace kestro::ui {

// The product's logo, drawn rather than shipped as a picture file.
QPixmap productLogo(int height = 64);

} // namespace kestro::ui
