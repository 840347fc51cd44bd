// The picture window of kinestim-host.exe: draws a Picture (the script preview's plot) with GDI,
// item by item in the order the SVG writer writes them, in a window owned by the Script Manager.
#include "frontends/win32/win32_gui.h"
#include "platform/picture.h"
#include "platform/window.h"
#include <cmath>
#include <vector>

namespace {

const char PICTURE_CLASS[] = "KinestimPicture";

struct PictureWindowState {
  HWND window = nullptr;
  Picture picture;
};

PictureWindowState shown;

COLORREF colourOf(unsigned rgb) { return RGB((rgb >> 16) & 0xff, (rgb >> 8) & 0xff, rgb & 0xff); }

int pixel(double v) { return static_cast<int>(std::lround(v)); }

void drawText(HDC dc, const PictureItem& item) {
  HFONT font = CreateFontA(-pixel(item.size), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, VARIABLE_PITCH | FF_SWISS,
                           "Arial");
  HGDIOBJ previous = SelectObject(dc, font);
  SetTextColor(dc, colourOf(item.colour));
  SetTextAlign(dc, TA_BASELINE | (item.anchor < 0 ? TA_LEFT : item.anchor == 0 ? TA_CENTER : TA_RIGHT));
  TextOutA(dc, pixel(item.points[0]), pixel(item.points[1]), item.text.c_str(), static_cast<int>(item.text.size()));
  SelectObject(dc, previous);
  DeleteObject(font);
}

void drawLines(HDC dc, const PictureItem& item) {
  // GDI dashes only one-pixel pens, which is what the dashed markers are.
  HPEN pen = CreatePen(item.dashed ? PS_DASH : PS_SOLID, item.dashed ? 1 : pixel(item.width), colourOf(item.colour));
  HGDIOBJ previous = SelectObject(dc, pen);
  std::vector<POINT> points;
  for (size_t i = 0; i + 1 < item.points.size(); i += 2)
    points.push_back(POINT{pixel(item.points[i]), pixel(item.points[i + 1])});
  if (points.size() >= 2) Polyline(dc, points.data(), static_cast<int>(points.size()));
  SelectObject(dc, previous);
  DeleteObject(pen);
}

void paintPicture(HDC dc, const Picture& picture) {
  RECT all = {0, 0, pixel(picture.width), pixel(picture.height)};
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  SetBkMode(dc, TRANSPARENT);
  for (const PictureItem& item : picture.items) {
    if (item.points.size() < 2) continue;
    if (item.kind == PictureItem::Kind::Text) drawText(dc, item);
    else drawLines(dc, item);
  }
}

LRESULT CALLBACK PictureWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      paintPicture(dc, shown.picture);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_KEYDOWN:
      if (wParam == VK_ESCAPE) {
        DestroyWindow(window);
        return 0;
      }
      break;
    case WM_DESTROY:
      shown.window = nullptr;
      return 0;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

bool registerPictureClass() {
  static bool registered = false;
  if (registered) return true;
  WNDCLASSA kind = {};
  kind.lpfnWndProc = PictureWindowProc;
  kind.hInstance = appInstance();
  kind.hCursor = LoadCursor(nullptr, IDC_ARROW);
  kind.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  kind.lpszClassName = PICTURE_CLASS;
  registered = RegisterClassA(&kind) != 0;
  return registered;
}

}  // namespace

// One picture window at a time: a new picture replaces the one shown. It is owned by the
// Script Manager, so it closes with it.
void showPictureWindow(const char* caption, const Picture& picture) {
  shown.picture = picture;
  if (shown.window != nullptr) {
    SetWindowTextA(shown.window, caption);
    InvalidateRect(shown.window, nullptr, TRUE);
    return;
  }
  if (!registerPictureClass()) return;
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_VISIBLE;
  RECT size = {0, 0, pixel(picture.width), pixel(picture.height)};
  AdjustWindowRect(&size, style, FALSE);
  HWND owner = scriptManagerWindowHandle() != nullptr ? scriptManagerWindowHandle() : mainWindowHandle();
  shown.window = CreateWindowExA(0, PICTURE_CLASS, caption, style, CW_USEDEFAULT, CW_USEDEFAULT,
                                 size.right - size.left, size.bottom - size.top, owner, nullptr, appInstance(), nullptr);
}
