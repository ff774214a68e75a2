// start_floor.exe: the least a program with Pelorin's main list can do before
// that list shows a row, the floor the bench measures Pelorin's start against:
// a bare window whose seven-column report list view fills one row while the
// window is created. Built like the program (static, common controls 6).
#include <windows.h>
#include <commctrl.h>

namespace {

const char* const kTitles[] = {"Process Name", "PID", "Mem", "CPU", "Image Path", "Description", "Company"};
const char* const kCells[] = {"start_floor.exe", "1", "1.2M", "0", "C:\\start_floor.exe", "--", "--"};

void FillList(HWND window) {
    RECT client = {};
    ::GetClientRect(window, &client);
    const HWND list = ::CreateWindowExA(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | LVS_REPORT, 0, 0,
                                        client.right, client.bottom, window, nullptr, nullptr, nullptr);
    for (int i = 0; i < 7; ++i) {
        LVCOLUMNA column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.cx = 70;
        column.pszText = const_cast<char*>(kTitles[i]);
        ::SendMessageA(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
    }
    LVITEMA item = {};
    item.mask = LVIF_TEXT;
    item.pszText = const_cast<char*>(kCells[0]);
    ::SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    for (int i = 1; i < 7; ++i) {
        item.iSubItem = i;
        item.pszText = const_cast<char*>(kCells[i]);
        ::SendMessageA(list, LVM_SETITEMTEXTA, 0, reinterpret_cast<LPARAM>(&item));
    }
}

LRESULT CALLBACK FloorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    switch (message) {
    case WM_CREATE:
        FillList(window);
        return 0;
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    default:
        return ::DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    const INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&controls);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = FloorProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = "StartFloor";
    ::RegisterClassA(&windowClass);
    ::CreateWindowExA(0, "StartFloor", "Start floor", WS_OVERLAPPEDWINDOW | WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT, 525,
                      380, nullptr, nullptr, instance, nullptr);
    MSG message;
    while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
    return 0;
}
