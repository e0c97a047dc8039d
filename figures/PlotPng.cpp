#include "PlotPng.h"

#include <cairo.h>
#include <librsvg/rsvg.h>

#include <cmath>
#include <memory>

namespace {

cairo_status_t appendBytes(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

struct HandleDeleter {
  void operator()(RsvgHandle* handle) const { g_object_unref(handle); }
};
struct SurfaceDeleter {
  void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct ContextDeleter {
  void operator()(cairo_t* context) const { cairo_destroy(context); }
};

std::string takeError(GError* error, const char* what) {
  std::string message = what;
  if (error != nullptr) {
    message += std::string(": ") + error->message;
    g_error_free(error);
  }
  return message;
}

}  // namespace

// fontconfig, which librsvg reaches through pango for the figure's text,
// keeps its font cache for the life of the process and never frees it. That
// is no leak of ours; tell LeakSanitizer (in sanitizer builds) to ignore it.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
extern "C" const char* __lsan_default_options();
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }

bool pngSupported() { return true; }

std::string renderPng(const std::string& svg, std::string& png) {
  GError* error = nullptr;
  const std::unique_ptr<RsvgHandle, HandleDeleter> handle(
      rsvg_handle_new_from_data(reinterpret_cast<const guint8*>(svg.data()), svg.size(), &error));
  if (!handle) {
    return takeError(error, "cannot read the figure for the PNG image");
  }
  double width = 0;
  double height = 0;
  if (rsvg_handle_get_intrinsic_size_in_pixels(handle.get(), &width, &height) == FALSE ||
      width < 1 || height < 1 || width > 16384 || height > 16384) {
    return "the figure has no usable size for a PNG image";
  }
  const std::unique_ptr<cairo_surface_t, SurfaceDeleter> surface(
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(std::ceil(width)),
                                 static_cast<int>(std::ceil(height))));
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
    return "cannot allocate the PNG image";
  }
  const std::unique_ptr<cairo_t, ContextDeleter> context(cairo_create(surface.get()));
  const RsvgRectangle viewport{0, 0, width, height};
  if (rsvg_handle_render_document(handle.get(), context.get(), &viewport, &error) == FALSE) {
    return takeError(error, "cannot draw the figure for the PNG image");
  }
  png.clear();
  if (cairo_surface_write_to_png_stream(surface.get(), appendBytes, &png) != CAIRO_STATUS_SUCCESS) {
    return "cannot encode the PNG image";
  }
  return {};
}
