// Camera faces: a DirectShow capture graph per camera window. The device's
// capture filter feeds a sample grabber set to 32-bit RGB whose preview is
// shown in the graph's video window inside the face; the grabber's buffer
// callback, on DirectShow's streaming thread, hands frames to the GUI
// thread through the FrameHandshake (view/camera-handshake.h) and a posted
// WM_USER + 1. face/data gets the device names, face/selected picks one
// (1-based), face/image gets a frame.
#include <windows.h>

#include <control.h>
#include <dshow.h>
#include <qedit.h>
#include <strmif.h>
#include <uuids.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "core/stack.h"
#include "core/unicode.h"
#include "core/value.h"
#include "datatypes/block.h"
#include "datatypes/image-store.h"
#include "datatypes/string.h"
#include "view/camera-handshake.h"
#include "view/windows/internal.h"

// The grabber filter's class, which the system headers leave out (the
// import library has it).
EXTERN_C const CLSID CLSID_SampleGrabber;

namespace mox::gui::win {

namespace {

constexpr UINT WM_CAMERA_FRAME = WM_USER + 1;

void say(const char* line) {
    std::fputs(line, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

template <typename T> void release(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

// The object the sample grabber calls for every frame. It lives as long as
// the camera record and is detached (SetCallback(NULL), graph stopped)
// before it is freed, so its reference count is not what keeps it.
class FrameCallback final : public ISampleGrabberCB {
  public:
    FrameHandshake frames;
    HWND window = nullptr;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ISampleGrabberCB)) {
            *out = static_cast<ISampleGrabberCB*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample*) override { return 0; }
    // The streaming thread: one copy when a frame is wanted, then the GUI
    // thread is told.
    HRESULT STDMETHODCALLTYPE BufferCB(double, BYTE* buffer, LONG length) override {
        if (length > 0 && frames.offer(buffer, static_cast<size_t>(length)))
            PostMessageW(window, WM_CAMERA_FRAME, 0, 0);
        return 0;
    }
};

} // namespace

// The capture graph of one camera window.
struct CameraRecord {
    ICaptureGraphBuilder2* builder = nullptr;
    IGraphBuilder* graph = nullptr;
    IBaseFilter* capture = nullptr;
    IBaseFilter* grabber_filter = nullptr;
    ISampleGrabber* grabber = nullptr;
    FrameCallback* callback = nullptr;
    IVideoWindow* video = nullptr;
    std::vector<IMoniker*> devices;
    double aspect = 0;
};

namespace {

CameraRecord* camera_of(HWND hwnd) {
    WindowRecord* r = record_of(hwnd);
    return r ? r->camera : nullptr;
}

// The device names into data (a new block) and the monikers into the
// record; false (and a line on standard output) without any device.
bool enum_cameras(CameraRecord* rec, Cell* face) {
    ICreateDevEnum* devenum = nullptr;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICreateDevEnum, reinterpret_cast<void**>(&devenum)))) {
        say("Error Creating Device Enumerator");
        return false;
    }
    IEnumMoniker* monikers = nullptr;
    HRESULT hr = devenum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
    if (hr != S_OK || !monikers) {
        say("No video capture hardware");
        devenum->Release();
        return false;
    }
    Cell* base = stack::top;
    Cell* kept = stack::push(face);
    Cell* names = block::make_at(stack::push_cell(), 4);
    set_facet(kept, sym.data, names);
    IMoniker* m = nullptr;
    while (monikers->Next(1, &m, nullptr) == S_OK) {
        IPropertyBag* bag = nullptr;
        if (SUCCEEDED(m->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                       reinterpret_cast<void**>(&bag)))) {
            VARIANT name;
            VariantInit(&name);
            if (SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && name.vt == VT_BSTR) {
                Cell s;
                make_series(&s, TYPE_STRING,
                            unicode::load_utf16(reinterpret_cast<const char16_t*>(name.bstrVal),
                                                SysStringLen(name.bstrVal), nullptr, false));
                block::ms_append(names, &s);
            }
            VariantClear(&name);
            bag->Release();
        }
        rec->devices.push_back(m);
    }
    stack::top = base;
    monikers->Release();
    devenum->Release();
    return !rec->devices.empty();
}

void detach_video_window(CameraRecord* rec) {
    if (!rec->video) return;
    rec->video->put_Visible(OAFALSE);
    rec->video->put_Owner(0);
    release(rec->video);
}

// The graph comes down in an order that leaves the streaming thread nothing
// to call into: stopped, the callback detached, then the objects released.
void release_camera_objects(CameraRecord* rec) {
    if (rec->graph) {
        IMediaControl* control = nullptr;
        if (SUCCEEDED(rec->graph->QueryInterface(IID_IMediaControl,
                                                 reinterpret_cast<void**>(&control)))) {
            control->Stop();
            control->Release();
        }
    }
    if (rec->grabber) rec->grabber->SetCallback(nullptr, 1);
    release(rec->builder);
    release(rec->graph);
    release(rec->capture);
    release(rec->grabber);
    release(rec->grabber_filter);
    delete rec->callback;
    rec->callback = nullptr;
}

void build_capture_graph(CameraRecord* rec, size_t index) {
    CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                     IID_ICaptureGraphBuilder2, reinterpret_cast<void**>(&rec->builder));
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                     IID_IGraphBuilder, reinterpret_cast<void**>(&rec->graph));
    if (!rec->builder || !rec->graph) return;
    if (FAILED(rec->builder->SetFiltergraph(rec->graph))) say("Cannot give graph to builder");
    IBaseFilter* capture = nullptr;
    HRESULT hr = rec->devices[index]->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                                   reinterpret_cast<void**>(&capture));
    if (SUCCEEDED(hr)) hr = rec->graph->AddFilter(capture, L"Capture Filter");
    if (FAILED(hr)) {
        std::printf("Error %lx: Cannot add videocap to filtergraph\n",
                    static_cast<unsigned long>(hr));
        std::fflush(stdout);
        release(capture);
    }
    rec->capture = capture;
    if (FAILED(CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                reinterpret_cast<void**>(&rec->grabber_filter))))
        return;
    rec->grabber_filter->QueryInterface(IID_ISampleGrabber,
                                        reinterpret_cast<void**>(&rec->grabber));
    if (!rec->grabber) return;
    AM_MEDIA_TYPE mt{};
    mt.majortype = MEDIATYPE_Video;
    mt.subtype = MEDIASUBTYPE_ARGB32;
    mt.formattype = FORMAT_VideoInfo;
    rec->grabber->SetMediaType(&mt);
    rec->graph->AddFilter(rec->grabber_filter, L"Sample Grabber");
}

// The picture inside the window's client area.
void fit(CameraRecord* rec, HWND hwnd) {
    if (!rec->video) return;
    RECT rc;
    GetClientRect(hwnd, &rc);
    VideoRect v = fit_video(rec->aspect, rc.right, rc.bottom);
    rec->video->SetWindowPosition(v.left, v.top, v.width, v.height);
}

// 0 when the preview runs in the window, -1 when the device or the graph
// cannot show one.
int32_t connect_capture_graph(CameraRecord* rec, HWND hwnd) {
    if (!rec->builder || !rec->capture || !rec->grabber) {
        say("This device cannot preview!");
        return -1;
    }
    HRESULT hr = rec->builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Interleaved,
                                            rec->capture, rec->grabber_filter, nullptr);
    if (hr != S_OK && hr != VFW_S_NOPREVIEWPIN)
        hr = rec->builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, rec->capture,
                                        rec->grabber_filter, nullptr);
    if (FAILED(hr)) {
        say("This device cannot preview!");
        return -1;
    }
    AM_MEDIA_TYPE mt{};
    if (FAILED(rec->grabber->GetConnectedMediaType(&mt))) return -1;
    int32_t width = 0, height = 0;
    if (IsEqualGUID(mt.formattype, FORMAT_VideoInfo) && mt.pbFormat &&
        mt.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
        width = vih->bmiHeader.biWidth;
        // Bottom-up and top-down frames have the same size.
        height = vih->bmiHeader.biHeight < 0 ? -vih->bmiHeader.biHeight : vih->bmiHeader.biHeight;
    }
    if (mt.pbFormat) CoTaskMemFree(mt.pbFormat);
    if (mt.pUnk) mt.pUnk->Release();
    auto* callback = new FrameCallback;
    callback->window = hwnd;
    // A size the frame buffer cannot be made for gets no frames.
    if (!callback->frames.open(width, height, FrameHandshake::WANTED)) {
        delete callback;
        say("This device cannot preview!");
        return -1;
    }
    rec->callback = callback;
    rec->grabber->SetCallback(callback, 1);
    if (FAILED(
            rec->graph->QueryInterface(IID_IVideoWindow, reinterpret_cast<void**>(&rec->video)))) {
        rec->video = nullptr;
        say("This graph cannot preview");
        return -1;
    }
    rec->aspect = static_cast<double>(width) / height;
    rec->video->put_Owner(reinterpret_cast<OAHWND>(hwnd));
    rec->video->put_WindowStyle(WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
    fit(rec, hwnd);
    rec->video->put_Visible(OATRUE);
    return 0;
}

// The frame in the buffer as an image! (rows flipped: the device gives them
// bottom up; opaque: the capture format's fourth byte is no transparency).
// May collect.
void frame_to_image(FrameCallback* cb, Cell* out) {
    uint32_t w = static_cast<uint32_t>(cb->frames.width()),
             h = static_cast<uint32_t>(cb->frames.height());
    uint8_t* pixels = image::alloc_pixels(w, h);
    const uint8_t* src = cb->frames.frame();
    size_t row = static_cast<size_t>(w) * 4;
    for (uint32_t y = 0; y < h; y++) {
        uint8_t* dst = pixels + row * y;
        std::memcpy(dst, src + row * (h - 1 - y), row);
        for (size_t x = 3; x < row; x += 4) dst[x] = 255;
    }
    image::make_cell(out, w, h, pixels);
}

void on_camera_frame(HWND hwnd) {
    CameraRecord* rec = camera_of(hwnd);
    if (!rec || !rec->callback) return;
    FrameCallback* cb = rec->callback;
    Cell* face = face_of(hwnd);
    if (cb->frames.state() == FrameHandshake::READY && face &&
        type_of(facet(face, sym.image)) == TYPE_NONE) {
        Cell* base = stack::top;
        Cell* kept = stack::push(face);
        Cell* img = make_none(stack::push_cell());
        guarded([&] { frame_to_image(cb, img); });
        set_facet(kept, sym.image, img);
        stack::top = base;
    }
    cb->frames.release();
}

void destroy_camera(HWND hwnd) {
    WindowRecord* r = record_of(hwnd);
    if (!r || !r->camera) return;
    close_camera(hwnd);
    for (IMoniker* m : r->camera->devices) m->Release();
    delete r->camera;
    r->camera = nullptr;
}

} // namespace

void make_camera(HWND hwnd, Cell* face) {
    WindowRecord* r = record_of(hwnd);
    if (!r) return;
    auto* rec = new CameraRecord;
    if (!enum_cameras(rec, face)) {
        for (IMoniker* m : rec->devices) m->Release();
        delete rec;
        return;
    }
    r->camera = rec;
    const Cell* sel = facet(face, sym.selected);
    if (type_of(sel) == TYPE_INTEGER && select_camera(hwnd, get_integer(sel) - 1))
        run_camera(hwnd, true);
}

int32_t select_camera(HWND hwnd, int32_t index) {
    CameraRecord* rec = camera_of(hwnd);
    int32_t count = rec ? static_cast<int32_t>(rec->devices.size()) : 0;
    if (index < 0 || index >= count) {
        Cell n;
        make_integer(&n, index + 1);
        fire(err::cannot_open, &n);
    }
    detach_video_window(rec);
    release_camera_objects(rec);
    rec->aspect = 0;
    build_capture_graph(rec, static_cast<size_t>(index));
    if (connect_capture_graph(rec, hwnd) != 0) {
        detach_video_window(rec);
        release_camera_objects(rec);
        return 0;
    }
    return 1;
}

HRESULT run_camera(HWND hwnd, bool run) {
    CameraRecord* rec = camera_of(hwnd);
    if (!rec || !rec->graph) return E_FAIL;
    IMediaControl* control = nullptr;
    HRESULT hr = rec->graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
    if (FAILED(hr)) return hr;
    if (run) {
        hr = control->Run();
        if (FAILED(hr)) hr = control->Stop();
    } else {
        hr = control->Stop();
    }
    control->Release();
    return hr;
}

void resize_camera(HWND hwnd) {
    if (CameraRecord* rec = camera_of(hwnd)) fit(rec, hwnd);
}

void close_camera(HWND hwnd) {
    CameraRecord* rec = camera_of(hwnd);
    if (!rec) return;
    detach_video_window(rec);
    release_camera_objects(rec);
}

void get_camera_frame(HWND hwnd, Cell* out) {
    make_none(out);
    CameraRecord* rec = camera_of(hwnd);
    if (!rec || !rec->callback) return;
    FrameCallback* cb = rec->callback;
    if (!cb->frames.request([](int32_t ms) { Sleep(static_cast<DWORD>(ms)); }, 3000)) return;
    // The buffer goes back to the streaming thread also when making the
    // image raises.
    struct Done {
        FrameCallback* cb;
        ~Done() { cb->frames.release(); }
    } done{cb};
    frame_to_image(cb, out);
}

LRESULT CALLBACK camera_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (!keep_record(hwnd, msg, lparam, false)) return FALSE;
    if (msg == WM_DESTROY) destroy_camera(hwnd);
    if (msg == WM_CAMERA_FRAME) guarded([&] { on_camera_frame(hwnd); });
    LRESULT result = DefWindowProcW(hwnd, msg, wparam, lparam);
    keep_record(hwnd, msg, lparam, true);
    return result;
}

} // namespace mox::gui::win
