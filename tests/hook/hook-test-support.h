#pragma once
// The hook library as the monitor uses it: loaded at run time from the
// build's bin folder, its exports looked up by name.
#include <gtest/gtest.h>

#include "hook/vorlix-hook.h"
#include "platform/platform.h"
#include "tests/support/test-support.h"

struct HookLibrary {
	HookLibrary()
	{
		handle = platform::LoadLibraryByName(
			testing_support::BinPath(platform::HookLibraryName()).c_str());
		EXPECT_NE(handle, nullptr);
		last_active = reinterpret_cast<GetLastActiveTimeFunc>(
			platform::LibrarySymbol(handle, "GetLastActiveTime"));
		set = reinterpret_cast<SetVorlixHookFunc>(
			platform::LibrarySymbol(handle, "SetVorlixHook"));
		unset = reinterpret_cast<UnSetVorlixHookFunc>(
			platform::LibrarySymbol(handle, "UnSetVorlixHook"));
		EXPECT_TRUE(last_active && set && unset);
	}
	~HookLibrary() { platform::FreeLibraryHandle(handle); }

	platform::LibraryHandle handle = nullptr;
	GetLastActiveTimeFunc last_active = nullptr;
	SetVorlixHookFunc set = nullptr;
	UnSetVorlixHookFunc unset = nullptr;
};
