// HTTP requests on Windows through the system's request object (ProgID
// "WinHttp.WinHttpRequest.5.1"). The compiler's headers carry no
// declaration of its interface, so it is declared here from the system's
// documentation, in vtable order.
#include <windows.h>

#include <oleauto.h>

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace mox::platform {

// The interface has external linkage: an interface known only inside this
// file, with no implementation in it, would let the compiler conclude that
// no object of it can exist and drop the calls.
// {016FE2EC-B2C8-45F8-B23B-39E53A75396B}, as the object's own type
// information reports it.
const IID IID_IWinHttpRequest = {
    0x016FE2EC, 0xB2C8, 0x45F8, {0xB2, 0x3B, 0x39, 0xE5, 0x3A, 0x75, 0x39, 0x6B}};

struct IWinHttpRequest : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE SetProxy(LONG setting, VARIANT server, VARIANT bypass) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCredentials(BSTR user, BSTR password, LONG flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE Open(BSTR method, BSTR url, VARIANT async) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetRequestHeader(BSTR header, BSTR value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetResponseHeader(BSTR header, BSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAllResponseHeaders(BSTR* headers) = 0;
    virtual HRESULT STDMETHODCALLTYPE Send(VARIANT body) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Status(LONG* status) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_StatusText(BSTR* status) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ResponseText(BSTR* body) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ResponseBody(VARIANT* body) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ResponseStream(VARIANT* body) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Option(LONG option, VARIANT* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Option(LONG option, VARIANT value) = 0;
    virtual HRESULT STDMETHODCALLTYPE WaitForResponse(VARIANT timeout, VARIANT_BOOL* done) = 0;
    virtual HRESULT STDMETHODCALLTYPE Abort() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetTimeouts(LONG resolve, LONG connect, LONG send,
                                                  LONG receive) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetClientCertificate(BSTR certificate) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetAutoLogonPolicy(LONG policy) = 0;
};

namespace {

const OLECHAR* ole(const char16_t* s) { return reinterpret_cast<const OLECHAR*>(s); }

// Owners of the COM resources of one request, released on every way out.
struct Bstr {
    BSTR s = nullptr;
    Bstr() = default;
    explicit Bstr(const char16_t* text) : s(SysAllocString(ole(text))) {}
    ~Bstr() { SysFreeString(s); }
};

struct Variant {
    VARIANT v;
    Variant() { VariantInit(&v); }
    ~Variant() { VariantClear(&v); }
};

struct Request {
    IWinHttpRequest* p = nullptr;
    ~Request() {
        if (p) p->Release();
    }
};

// The body variant: a byte array, a BSTR, or the omitted optional parameter.
bool make_body(const HttpRequest& request, Variant* body) {
    if (request.body_kind == 1) {
        SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(request.body_size));
        if (!array) return false;
        void* data = nullptr;
        if (FAILED(SafeArrayAccessData(array, &data))) {
            SafeArrayDestroy(array);
            return false;
        }
        if (request.body_size) std::memcpy(data, request.body, request.body_size);
        SafeArrayUnaccessData(array);
        body->v.vt = VT_ARRAY | VT_UI1;
        body->v.parray = array;
        return true;
    }
    if (request.body_kind == 2) {
        body->v.vt = VT_BSTR;
        body->v.bstrVal = SysAllocStringLen(ole(static_cast<const char16_t*>(request.body)),
                                            static_cast<UINT>(request.body_size));
        return body->v.bstrVal != nullptr;
    }
    body->v.vt = VT_ERROR;
    body->v.scode = DISP_E_PARAMNOTFOUND;
    return true;
}

// The bytes of a one-dimensional byte array into a malloc'd buffer.
bool take_body(VARIANT* body, HttpResponse* response) {
    if (body->vt != (VT_ARRAY | VT_UI1)) return true;
    SAFEARRAY* array = body->parray;
    LONG low = 0, high = -1;
    if (!array || SafeArrayGetDim(array) != 1 || FAILED(SafeArrayGetLBound(array, 1, &low)) ||
        FAILED(SafeArrayGetUBound(array, 1, &high)))
        return false;
    if (high < low) return true;
    const size_t size = static_cast<size_t>(high) - static_cast<size_t>(low) + 1;
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(array, &data))) return false;
    response->body = static_cast<uint8_t*>(std::malloc(size));
    if (response->body) std::memcpy(response->body, data, size);
    SafeArrayUnaccessData(array);
    if (!response->body) return false;
    response->body_size = size;
    return true;
}

bool perform(const HttpRequest& request, HttpResponse* response) {
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(L"WinHttp.WinHttpRequest.5.1", &clsid))) return false;
    Request req;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IWinHttpRequest,
                                reinterpret_cast<void**>(&req.p))))
        return false;
    Variant body;
    if (!make_body(request, &body)) return false;
    Bstr method(request.method), url(request.url);
    Variant async;
    async.v.vt = VT_BOOL;
    async.v.boolVal = VARIANT_FALSE;
    if (FAILED(req.p->Open(method.s, url.s, async.v))) return false;
    for (int i = 0; i < request.header_count; i++) {
        Bstr name(request.headers[2 * i]), value(request.headers[2 * i + 1]);
        if (FAILED(req.p->SetRequestHeader(name.s, value.s))) return false;
    }
    if (FAILED(req.p->Send(body.v))) return false;
    LONG status = 0;
    if (FAILED(req.p->get_Status(&status))) return false;
    response->status = status;
    if (request.want_headers) {
        Bstr headers;
        if (FAILED(req.p->GetAllResponseHeaders(&headers.s))) return false;
        const UINT units = headers.s ? SysStringLen(headers.s) : 0;
        response->headers = static_cast<char16_t*>(std::malloc((units + 1) * sizeof(char16_t)));
        if (!response->headers) return false;
        if (units) std::memcpy(response->headers, headers.s, units * sizeof(char16_t));
        response->headers[units] = 0;
        response->header_units = units;
    }
    Variant answer;
    if (FAILED(req.p->get_ResponseBody(&answer.v))) return false;
    return take_body(&answer.v, response);
}

} // namespace

bool http_request(const HttpRequest& request, HttpResponse* response) {
    *response = HttpResponse{0, nullptr, 0, nullptr, 0};
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const bool ok = perform(request, response);
    if (SUCCEEDED(com)) CoUninitialize();
    if (!ok) {
        std::free(response->headers);
        std::free(response->body);
        *response = HttpResponse{0, nullptr, 0, nullptr, 0};
    }
    return ok;
}

} // namespace mox::platform
