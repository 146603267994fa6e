// A data object that offers file paths as CF_HDROP, laid out as drag and drop does.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

namespace shlexttest {

class DropData : public IDataObject {
public:
    explicit DropData(const std::vector<std::wstring>& files, bool offerHdrop = true)
        : files_(files), offer_(offerHdrop) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDataObject)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override { return --refs_; }  // lives on the test's stack
    STDMETHODIMP GetData(FORMATETC* fmt, STGMEDIUM* medium) override {
        if (!offer_ || fmt->cfFormat != CF_HDROP || !(fmt->tymed & TYMED_HGLOBAL)) return DV_E_FORMATETC;
        // Names, each ended by a null, and one more null after the last (two for none).
        size_t chars = files_.empty() ? 2 : 1;
        for (const auto& f : files_) chars += f.size() + 1;
        HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + chars * sizeof(wchar_t));
        auto* drop = static_cast<DROPFILES*>(GlobalLock(mem));
        drop->pFiles = sizeof(DROPFILES);
        drop->fWide = TRUE;
        auto* p = reinterpret_cast<wchar_t*>(drop + 1);
        for (const auto& f : files_) {
            std::copy(f.begin(), f.end(), p);
            p += f.size() + 1;
        }
        GlobalUnlock(mem);
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = mem;
        medium->pUnkForRelease = nullptr;
        return S_OK;
    }
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP DUnadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }

private:
    std::vector<std::wstring> files_;
    bool offer_;
    ULONG refs_ = 1;
};

}  // namespace shlexttest
