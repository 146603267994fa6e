// Registers the shell extension machine-wide for a test suite and creates its objects
// through CoCreateInstance, as the shell does.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include "Guids.h"
#include "ShlExtTestSupport.h"

class RegisteredExtension : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        registered_ = shlexttest::RunProcess(L"regsvr32.exe /s \"" + shlexttest::DllPath() + L"\"") == 0;
    }
    static void TearDownTestSuite() {
        shlexttest::RunProcess(L"regsvr32.exe /s /u \"" + shlexttest::DllPath() + L"\"");
    }
    void SetUp() override { ASSERT_TRUE(registered_) << "regsvr32 failed"; }

    template <typename T>
    static T* Create(REFIID iid) {
        T* p = nullptr;
        HRESULT hr = CoCreateInstance(shlext::CLSID_SimpleShlExt, nullptr, CLSCTX_INPROC_SERVER, iid,
                                      reinterpret_cast<void**>(&p));
        EXPECT_EQ(hr, S_OK);
        return p;
    }

    static bool registered_;
};
