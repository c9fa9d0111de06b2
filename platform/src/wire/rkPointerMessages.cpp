#include "wire/rkPointerMessages.h"

#include <algorithm>
#include <iterator>

namespace rkwire {

namespace {

/* Sorted by number; what the pointer addresses follows each one. */
constexpr UINT pointerMessages[] = {
    0x0001, /* WM_CREATE: CREATESTRUCT */
    0x000C, /* WM_SETTEXT: the text */
    0x000D, /* WM_GETTEXT: the buffer to fill */
    0x001A, /* WM_SETTINGCHANGE: the section name */
    0x001B, /* WM_DEVMODECHANGE: the device name */
    0x0024, /* WM_GETMINMAXINFO: MINMAXINFO */
    0x002B, /* WM_DRAWITEM: DRAWITEMSTRUCT */
    0x002C, /* WM_MEASUREITEM: MEASUREITEMSTRUCT */
    0x002D, /* WM_DELETEITEM: DELETEITEMSTRUCT */
    0x0039, /* WM_COMPAREITEM: COMPAREITEMSTRUCT */
    0x0046, /* WM_WINDOWPOSCHANGING: WINDOWPOS */
    0x0047, /* WM_WINDOWPOSCHANGED: WINDOWPOS */
    0x004E, /* WM_NOTIFY: NMHDR */
    0x0053, /* WM_HELP: HELPINFO */
    0x007C, /* WM_STYLECHANGING: STYLESTRUCT */
    0x007D, /* WM_STYLECHANGED: STYLESTRUCT */
    0x0081, /* WM_NCCREATE: CREATESTRUCT */
    0x0083, /* WM_NCCALCSIZE: RECT or NCCALCSIZE_PARAMS */
    0x0087, /* WM_GETDLGCODE: MSG */
    0x0124, /* WM_MENUGETOBJECT: MENUGETOBJECTINFO */
    0x0213, /* WM_NEXTMENU: MDINEXTMENU */
    0x0214, /* WM_SIZING: RECT */
    0x0216, /* WM_MOVING: RECT */
    0x0219, /* WM_DEVICECHANGE: DEV_BROADCAST_HDR */
    0x0220, /* WM_MDICREATE: MDICREATESTRUCT */
    0x0229, /* WM_MDIGETACTIVE: BOOL for the maximized state */
    0x0288, /* WM_IME_REQUEST: the request's structure */
    0x02E0, /* WM_DPICHANGED: RECT */
    0x030C, /* WM_ASKCBFORMATNAME: the buffer to fill */
    0x033F, /* WM_GETTITLEBARINFOEX: TITLEBARINFOEX */
};

} // namespace

bool carriesPointer(UINT message)
{
    return std::binary_search(std::begin(pointerMessages), std::end(pointerMessages), message);
}

} // namespace rkwire
