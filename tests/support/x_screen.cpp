#include "x_screen.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <set>
#include <stdexcept>
#include <thread>

namespace lumivane::testing {

std::size_t WindowPixels::Differences(const WindowPixels& other) const {
  if (width != other.width || height != other.height) return rgb.size();
  std::size_t count = 0;
  for (std::size_t i = 0; i < rgb.size(); ++i) count += rgb[i] != other.rgb[i];
  return count;
}

std::size_t WindowPixels::DistinctColours() const {
  return std::set<std::uint32_t>(rgb.begin(), rgb.end()).size();
}

XScreen::XScreen(const std::string& display) : display_(XOpenDisplay(display.c_str())) {
  if (display_ == nullptr) throw std::runtime_error("cannot open the X display " + display);
}

XScreen::~XScreen() { XCloseDisplay(display_); }

std::optional<WindowPixels> XScreen::Capture(const std::string& window) {
  const Window id = std::stoul(window);
  XWindowAttributes attributes{};
  if (!XGetWindowAttributes(display_, id, &attributes) || attributes.map_state != IsViewable) {
    return std::nullopt;
  }
  XImage* image =
      XGetImage(display_, id, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap);
  if (image == nullptr) return std::nullopt;
  WindowPixels pixels;
  pixels.width = attributes.width;
  pixels.height = attributes.height;
  pixels.rgb.reserve(static_cast<std::size_t>(pixels.width) * pixels.height);
  for (int y = 0; y < pixels.height; ++y) {
    for (int x = 0; x < pixels.width; ++x) {
      pixels.rgb.push_back(static_cast<std::uint32_t>(XGetPixel(image, x, y) & 0xFFFFFF));
    }
  }
  XDestroyImage(image);
  return pixels;
}

void XScreen::Cover(const std::string& window, std::uint32_t rgb,
                    std::chrono::milliseconds how_long) {
  const Window id = std::stoul(window);
  XWindowAttributes attributes{};
  if (!XGetWindowAttributes(display_, id, &attributes)) return;
  const Window root = DefaultRootWindow(display_);
  int x = 0;
  int y = 0;
  Window child = 0;
  XTranslateCoordinates(display_, id, root, 0, 0, &x, &y, &child);
  XSetWindowAttributes settings{};
  settings.override_redirect = True;
  settings.background_pixel = rgb;  // the test displays are 24-bit TrueColor
  const Window cover =
      XCreateWindow(display_, root, x, y, attributes.width, attributes.height, 0, CopyFromParent,
                    InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &settings);
  XMapRaised(display_, cover);
  XSync(display_, False);
  std::this_thread::sleep_for(how_long);
  XDestroyWindow(display_, cover);
  XSync(display_, False);
}

}  // namespace lumivane::testing
