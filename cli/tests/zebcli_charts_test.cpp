// The pictures and the report: the axes' units and tick styles, texts that never overlap, the
// file system named by its mount, and a report that escapes what it shows.
#include "charts/axis.h"
#include "charts/latencychart.h"
#include "charts/loadchart.h"
#include "charts/sweepchart.h"
#include "charts/timechart.h"
#include "plot.h"
#include "report.h"
#include "testfs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace zebcli;
using namespace zebcli::charts;

// From a rate of half a MB/s to 60 GB/s: the unit grows with the figures, every tick of an
// axis has as many decimals as the others, no tick carries a unit of its own ("10k" beside
// "8000"), and the axis reaches the figure in under 1000 of its unit.
TEST(Charts, AxesScaleTheirUnitAndKeepOneTickStyle) {
    struct Row {
        double max;
        std::span<const Unit> units;
        std::string unit;
        std::string top; // the last tick
    };
    const std::vector<Row> rows = {
        {0.5e6, kRateUnits, "kB/s", "500"},
        {0.9e6, kRateUnits, "MB/s", "1.0"},
        {1e6, kRateUnits, "MB/s", "1.0"},
        {7.3e6, kRateUnits, "MB/s", "8"},
        {999.5e6, kRateUnits, "GB/s", "1.0"},
        {8000e6, kRateUnits, "GB/s", "8"},
        {50000e6, kRateUnits, "GB/s", "50"},
        {60000e6, kRateUnits, "GB/s", "60"},
        {8000, kOperationUnits, "thousand operations/s", "8"},
        {10001, kOperationUnits, "thousand operations/s", "15"},
        {567917, kOperationUnits, "thousand operations/s", "600"},
        {2.1e9, kDurationUnits, "s", "2.5"},
        {0, kRateUnits, "B/s", "1.0"},
    };
    for (const Row& row : rows) {
        const LinearAxis axis = MakeLinearAxis(row.max, row.units);
        SCOPED_TRACE(row.max);
        EXPECT_EQ(axis.unit.name, row.unit);
        ASSERT_FALSE(axis.labels.empty());
        EXPECT_EQ(axis.labels.back(), row.top);
        EXPECT_GE(axis.top, row.max);
        EXPECT_LE(axis.labels.size(), 6u);
        const auto decimals = [](const std::string& label) {
            const std::size_t point = label.find('.');
            return point == std::string::npos ? 0 : label.size() - point - 1;
        };
        for (const std::string& label : axis.labels) {
            EXPECT_EQ(label.find_first_not_of("0123456789."), std::string::npos) << label;
            EXPECT_EQ(decimals(label), decimals(axis.labels.front())) << label;
            EXPECT_LT(std::stod(label), 1000) << label;
        }
    }
    EXPECT_EQ(MakeLinearAxis(0, kRateUnits, kMegabytesPerSecond).unit.name, std::string("MB/s"));
    EXPECT_EQ(ScaledText(50000e6, kRateUnits), "50.0 GB/s");
    EXPECT_EQ(ScaledText(999.7e6, kRateUnits), "1.00 GB/s");
    EXPECT_EQ(ScaledText(12345, kDurationUnits), "12.3 \xC2\xB5s");
    EXPECT_EQ(MakeLogAxis(900, 2.1e9).labels,
              (std::vector<std::string>{"100 ns", "1 \xC2\xB5s", "10 \xC2\xB5s", "100 \xC2\xB5s",
                                        "1 ms", "10 ms", "100 ms", "1 s", "10 s"}));
}

// A sweep whose last pass failed beside the right axis, passes too many for every size to be
// labelled, a stall and failures over time: every text drawn keeps clear of every other, and
// the failed pass still has its label.
TEST(Charts, NoTwoTextsOverlap) {
    std::vector<ChartRun> passes;
    for (std::uint32_t size = 1024; size <= 32000; size += 1024) {
        ChartRun pass;
        pass.bufferSize = size;
        pass.name = std::to_string(size);
        pass.outcome = "passed";
        pass.bytesPerSecond = size * 1.6e3;
        pass.operationsPerSecond = 8000 - size / 8.0;
        pass.clientRates = std::pair(*pass.bytesPerSecond / 5, *pass.bytesPerSecond / 3);
        pass.startSeconds = (static_cast<double>(size) / 1024 - 1) * 0.5;
        // The first pass cut fine: its curves run to kilobytes.
        const int count = size == 1024 ? 60 : 5;
        const double step = 0.5 / count;
        for (int i = 0; i < count; ++i) {
            Interval interval{i * step,      step,   100,
                              100ull * size, 0,      20000,
                              90000,         200000, std::pair(size * 1e4, size * 2e4)};
            if (size == 8192 && i == 2) {
                interval.p99Ns = 2'000'000'000; // a stall of the server
                interval.failures = 3;
            }
            pass.intervals.push_back(interval);
        }
        pass.latency = Latency{
            500, 900, 2'100'000'000, {{50, 20000}, {90, 40000}, {99, 90000}, {99.9, 400000}}};
        passes.push_back(pass);
    }
    passes.back().passed = false;
    passes.back().outcome = "failed";
    passes.back().bytesPerSecond = 0;
    passes.back().operationsPerSecond = 0;
    std::vector<Canvas> canvases = {SweepChart(passes)};
    canvases.push_back(*TimeChart(passes));
    canvases.push_back(*LatencyChart(passes));
    std::vector<LoadPoint> points;
    for (std::uint32_t clients : {1u, 2u, 4u, 8u, 16u, 32u}) {
        LoadPoint point;
        point.clients = clients;
        point.allRunningBytesPerSecond = clients * 3e7;
        point.wholeBytesPerSecond = clients * 2e7;
        point.p99Ns = clients * 100000ULL;
        point.passed = clients != 8;
        points.push_back(point);
    }
    canvases.push_back(LoadChart(points));
    for (const Canvas& canvas : canvases) {
        // Every curve whole, however many points it has: its attribute closes before the
        // next element.
        const std::string svg = canvas.Group(0, 0);
        for (std::size_t at = svg.find("points=\""); at != std::string::npos;
             at = svg.find("points=\"", at + 1)) {
            EXPECT_LT(svg.find('"', at + 8), svg.find('<', at)) << svg.substr(at, 80);
        }
        const std::vector<Box>& boxes = canvas.TextBoxes();
        EXPECT_GT(boxes.size(), 10u);
        for (std::size_t i = 0; i < boxes.size(); ++i) {
            for (std::size_t j = i + 1; j < boxes.size(); ++j) {
                EXPECT_FALSE(boxes[i].Intersects(boxes[j]))
                    << i << " " << j << ": " << boxes[i].x << "," << boxes[i].y << " " << boxes[j].x
                    << "," << boxes[j].y;
            }
        }
    }
    const std::string sweep = canvases[0].Group(0, 0);
    EXPECT_NE(sweep.find(">failed</text>"), std::string::npos);
    EXPECT_NE(sweep.find(">thousand operations/s"), std::string::npos);
}

TEST(TestedFileSystem, TheMountHoldingThePathNamesIt) {
    const std::string mountinfo =
        "22 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw,errors=remount-ro\n"
        "24 22 0:21 / /proc rw,nosuid - proc proc rw\n"
        "31 22 0:30 / /mnt/my\\040share rw master:3 - cifs //nas/my\\040share rw,vers=3.1.1\n"
        "32 22 0:31 / /mnt/data rw - tmpfs tmpfs rw\n"
        "33 32 0:32 / /mnt/data rw - xfs /dev/sdb1 rw\n"
        "a line cut short\n"
        "40 22 0:40 / /mnt/deep/er rw - fuse.smbnetfs smbnetfs rw";
    struct Row {
        std::string path, type, source, mountPoint;
    };
    for (const Row& row : std::vector<Row>{
             {"/home/u/T.TST", "ext4", "/dev/nvme0n1p2", "/"},
             {"/mnt/my share/T.TST", "cifs", "//nas/my share", "/mnt/my share"},
             {"/mnt/my share", "cifs", "//nas/my share", "/mnt/my share"},
             {"/mnt/my shared/T.TST", "ext4", "/dev/nvme0n1p2", "/"},
             {"/mnt/data/T.TST", "xfs", "/dev/sdb1", "/mnt/data"}, // the mount on top
             {"/mnt/deep/er/T.TST", "fuse.smbnetfs", "smbnetfs", "/mnt/deep/er"},
         }) {
        const std::optional<MountEntry> mount = MountHolding(mountinfo, row.path);
        ASSERT_TRUE(mount) << row.path;
        EXPECT_EQ(mount->type, row.type) << row.path;
        EXPECT_EQ(mount->source, row.source) << row.path;
        EXPECT_EQ(mount->mountPoint, row.mountPoint) << row.path;
    }
    EXPECT_FALSE(MountHolding("24 22 0:21 / /proc rw - proc proc rw\n", "/home/T.TST"));
}

// A path and engine texts with markup, quotes and control bytes: the page shows them as text,
// runs nothing and fetches nothing.
TEST(Report, EscapesWhatItShowsAndNeedsNothingElse) {
    Options options;
    options.path = "/tmp/<b>&\"x'/T.TST";
    RunContext context;
    context.start = "2026-12-09T05:40:12.345Z";
    context.host = "host<i>";
    context.commandLine = {"zebcli", "fileio", options.path};
    context.fileSystem = TestedFileSystem{"ext4", "/dev/x<y>", "/tmp"};
    RunRecord run;
    run.start = context.start;
    run.bufferSize = 1024;
    run.outcome = Outcome::Failed;
    run.cause = "<script>alert(1)</script>\x1b[31m";
    run.engineVerdict = "File I/O Failed";
    const std::string html = ResultsHtml(options, context, {run}, 2);
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_EQ(html.find("http"), std::string::npos);
    EXPECT_EQ(html.find("<b>&"), std::string::npos);
    EXPECT_EQ(html.find('\x1b'), std::string::npos);
    EXPECT_NE(html.find("/tmp/&lt;b&gt;&amp;&quot;x&#39;/T.TST"), std::string::npos);
    EXPECT_NE(html.find("&lt;script&gt;alert(1)&lt;/script&gt;?[31m"), std::string::npos);
    EXPECT_NE(html.find("<svg"), std::string::npos);
}
