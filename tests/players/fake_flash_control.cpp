// A stand-in for the Flash ActiveX control, for the tests of flash.bin under wine (which has no
// Flash): an in-process COM server registered under the Flash class id. Activated in place, it
// covers the given rectangle of its parent with one colour, read from the movie it is given
// (the three bytes after the 8-byte header of a "FWS" file), and writes what the player asked of
// it into "<dll path>.log": "movie <path> <size>", "loop <value>", "play", "close".

#include <ole2.h>
#include <oleauto.h>
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// {D27CDB6E-AE6D-11cf-96B8-444553540000}
const CLSID kFlashClassId = {0xD27CDB6E, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
constexpr DISPID kMovie = 1, kLoop = 2, kPlay = 3;

HINSTANCE module = nullptr;
LONG objects = 0;

void Log(const std::string& line) {
    char path[MAX_PATH + 8] = {};
    GetModuleFileNameA(module, path, MAX_PATH);
    std::string name = std::string(path) + ".log";
    if (FILE* f = std::fopen(name.c_str(), "ab")) {
        std::fprintf(f, "%s\r\n", line.c_str());
        std::fclose(f);
    }
}

std::string Narrow(const wchar_t* text) {
    if (text == nullptr) return {};
    int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(length > 0 ? length - 1 : 0), '\0');
    if (length > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), length, nullptr, nullptr);
    return out;
}

LRESULT CALLBACK ControlProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        auto color = static_cast<COLORREF>(GetWindowLongPtrW(window, GWLP_USERDATA));
        HBRUSH brush = CreateSolidBrush(color);
        RECT all;
        GetClientRect(window, &all);
        FillRect(dc, &all, brush);
        DeleteObject(brush);
        EndPaint(window, &ps);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

class FakeFlash : public IOleObject, public IDispatch {
public:
    FakeFlash() { InterlockedIncrement(&objects); }
    virtual ~FakeFlash() {
        if (site_ != nullptr) site_->Release();
        InterlockedDecrement(&objects);
    }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleObject))
            *out = static_cast<IOleObject*>(this);
        else if (IsEqualIID(iid, IID_IDispatch))
            *out = static_cast<IDispatch*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* site) override {
        if (site != nullptr) site->AddRef();
        if (site_ != nullptr) site_->Release();
        site_ = site;
        return S_OK;
    }
    STDMETHODIMP GetClientSite(IOleClientSite** site) override {
        *site = site_;
        if (site_ != nullptr) site_->AddRef();
        return S_OK;
    }
    STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP Close(DWORD) override {
        Log("close");
        if (window_ != nullptr) DestroyWindow(window_);
        window_ = nullptr;
        return S_OK;
    }
    STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
    STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite*, LONG, HWND parent, LPCRECT rect) override {
        if (verb != OLEIVERB_INPLACEACTIVATE && verb != OLEIVERB_SHOW) return OLEOBJ_S_INVALIDVERB;
        if (window_ != nullptr || parent == nullptr || rect == nullptr) return E_UNEXPECTED;
        WNDCLASSW cls{};
        cls.lpfnWndProc = ControlProcedure;
        cls.hInstance = module;
        cls.lpszClassName = L"FakeFlashControl";
        RegisterClassW(&cls);
        window_ = CreateWindowExW(0, L"FakeFlashControl", L"", WS_CHILD | WS_VISIBLE, rect->left, rect->top,
                                  rect->right - rect->left, rect->bottom - rect->top, parent, nullptr, module,
                                  nullptr);
        if (window_ == nullptr) return E_FAIL;
        SetWindowLongPtrW(window_, GWLP_USERDATA, static_cast<LONG_PTR>(RGB(64, 64, 64)));
        char text[96];
        std::snprintf(text, sizeof text, "activate %ld %ld %ld %ld", static_cast<long>(rect->left),
                      static_cast<long>(rect->top), static_cast<long>(rect->right),
                      static_cast<long>(rect->bottom));
        Log(text);
        return S_OK;
    }
    STDMETHODIMP EnumVerbs(IEnumOLEVERB**) override { return E_NOTIMPL; }
    STDMETHODIMP Update() override { return S_OK; }
    STDMETHODIMP IsUpToDate() override { return S_OK; }
    STDMETHODIMP GetUserClassID(CLSID* id) override {
        *id = kFlashClassId;
        return S_OK;
    }
    STDMETHODIMP GetUserType(DWORD, LPOLESTR*) override { return E_NOTIMPL; }
    STDMETHODIMP SetExtent(DWORD, SIZEL*) override { return S_OK; }
    STDMETHODIMP GetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
    STDMETHODIMP Advise(IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP Unadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
    STDMETHODIMP GetMiscStatus(DWORD, DWORD* status) override {
        *status = 0;
        return S_OK;
    }
    STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (count != 1) return E_INVALIDARG;
        std::wstring name = names[0];
        if (name == L"Movie")
            *ids = kMovie;
        else if (name == L"Loop")
            *ids = kLoop;
        else if (name == L"Play")
            *ids = kPlay;
        else
            return DISP_E_UNKNOWNNAME;
        return S_OK;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        const bool put = (flags & DISPATCH_PROPERTYPUT) != 0 && params != nullptr && params->cArgs == 1;
        if (id == kMovie && put && params->rgvarg[0].vt == VT_BSTR) {
            std::string path = Narrow(params->rgvarg[0].bstrVal);
            std::string bytes;
            if (FILE* f = _wfopen(params->rgvarg[0].bstrVal, L"rb")) {
                char buffer[4096];
                std::size_t got;
                while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, got);
                std::fclose(f);
            }
            Log("movie " + path + " " + std::to_string(bytes.size()));
            if (bytes.size() >= 11 && bytes.compare(0, 3, "FWS") == 0 && window_ != nullptr) {
                auto byte = [&bytes](std::size_t i) { return static_cast<BYTE>(bytes[i]); };
                SetWindowLongPtrW(window_, GWLP_USERDATA,
                                  static_cast<LONG_PTR>(RGB(byte(8), byte(9), byte(10))));
                InvalidateRect(window_, nullptr, TRUE);
            }
            return S_OK;
        }
        if (id == kLoop && put) {
            Log("loop " + std::to_string(params->rgvarg[0].vt == VT_BOOL ? params->rgvarg[0].boolVal : 0));
            return S_OK;
        }
        if (id == kPlay && (flags & DISPATCH_METHOD) != 0) {
            Log("play");
            return S_OK;
        }
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    LONG references_ = 1;
    IOleClientSite* site_ = nullptr;
    HWND window_ = nullptr;
};

class Factory : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        auto* control = new FakeFlash();
        HRESULT hr = control->QueryInterface(iid, out);
        control->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

Factory factory;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) module = instance;
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID id, REFIID iid, void** out) {
    if (!IsEqualCLSID(id, kFlashClassId)) return CLASS_E_CLASSNOTAVAILABLE;
    return factory.QueryInterface(iid, out);
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllCanUnloadNow() {
    return objects == 0 ? S_OK : S_FALSE;
}
