// The server clock: the anchor taken at process start, the conversion of tick
// readings and SetLandingServerTime.
#include <gtest/gtest.h>

#include <climits>

#include <util/base.h>

#include "monitor/shared-sample.h"
#include "platform/platform.h"
#include "tests/support/log-capture.h"

using testing_support::LogCapture;

namespace {

constexpr int64_t kT = 1700000000;
uint64_t fakeTick = 0;

uint64_t FakeTick()
{
	return fakeTick;
}

class ServerClock : public ::testing::Test {
protected:
	void SetUp() override { saved_ = SharedSample::ActiveInfo; }
	void TearDown() override
	{
		platform::SetTickSource(nullptr);
		SharedSample::ActiveInfo = saved_;
	}
	ActiveInfoRecord saved_;
};

} // namespace

TEST_F(ServerClock, AnchorIsTheMachineClockAtProcessStart)
{
	const ActiveInfoRecord &info = SharedSample::ActiveInfo;
	const uint64_t now_tick = platform::TickCount64();
	const int64_t now = platform::WallClockSeconds();
	ASSERT_GT(info.landing_tick_count, 0u);
	ASSERT_LE(info.landing_tick_count, now_tick);
	// Both clocks advanced by the same time since the anchor was taken.
	const int64_t elapsed =
		static_cast<int64_t>(now_tick - info.landing_tick_count) / 1000;
	EXPECT_NEAR(static_cast<double>(info.landing_server_time),
		    static_cast<double>(now - elapsed), 2.0);
	// Without a server time, a tick converts to that clock plus the
	// elapsed whole seconds.
	EXPECT_EQ(SharedSample::ToServerTime(now_tick),
		  info.landing_server_time + elapsed);
	EXPECT_EQ(info.user_id, 0);
	EXPECT_EQ(info.process[0], u'\0');
}

TEST_F(ServerClock, ConvertsElapsedTimeInWholeSecondsRoundedDown)
{
	SharedSample::ActiveInfo.landing_tick_count = 10000000;
	SharedSample::ActiveInfo.landing_server_time = kT;
	const struct {
		int64_t offset_ms;
		int64_t expected;
	} cases[] = {
		{0, kT},        {999, kT},         {1000, kT + 1},
		{90900, kT + 90}, {-5500, kT - 6}, {-999, kT - 1},
		{-1000, kT - 1}, {-1001, kT - 2},
		{-10000000, kT - 10000}, // tick 0
	};
	for (const auto &c : cases)
		EXPECT_EQ(SharedSample::ToServerTime(10000000 + c.offset_ms),
			  c.expected)
			<< c.offset_ms;
}

// Differences at the edges of 64 bits keep to the same rule instead of
// overflowing (the sanitizer build runs this).
TEST_F(ServerClock, ExtremeReadingsFollowTheSameRule)
{
	SharedSample::ActiveInfo.landing_tick_count = 0;
	SharedSample::ActiveInfo.landing_server_time = kT;
	EXPECT_EQ(SharedSample::ToServerTime(UINT64_MAX), kT - 1); // 1 ms before
	EXPECT_EQ(SharedSample::ToServerTime(uint64_t{1} << 63),
		  kT - 9223372036854776); // 2^63 ms before
}

TEST_F(ServerClock, LateLandingServerTimePairsWithStartAnchor)
{
	SharedSample::ActiveInfo.landing_tick_count = 4200000;
	fakeTick = 4200000 + 60000; // a minute after the start
	platform::SetTickSource(FakeTick);

	LogCapture logs;
	SharedSample::SetLandingServerTime(kT);
	EXPECT_EQ(SharedSample::ToServerTime(platform::TickCount64()), kT + 60);
	fakeTick += 30500;
	EXPECT_EQ(SharedSample::ToServerTime(platform::TickCount64()), kT + 90);

	ASSERT_EQ(logs.entries().size(), 1u);
	EXPECT_EQ(logs.entries()[0].level, LOG_INFO);
	EXPECT_EQ(logs.entries()[0].text,
		  "SetLandingServerTime 1700000000 landing_tick_count:4200000");

	logs.clear();
	SharedSample::SetLandingServerTime(-5);
	EXPECT_EQ(logs.entries()[0].text,
		  "SetLandingServerTime -5 landing_tick_count:4200000");
}
