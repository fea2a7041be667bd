#include "shell/display_timing.h"

#include <cmath>

#include "scene/system_libraries.h"

namespace {

constexpr double defaultRate = 60.0;

// What the display configuration says of the output a GDI device shows on.
struct OutputMode {
    double rate = 0.0; // exact, or 0 where the system does not say
    UINT visibleLines = 0;
    UINT totalLines = 0; // 0 where the scan-out cannot be turned into time
};

bool SameName(const WCHAR* wide, const char* narrow) {
    for (; *wide != 0 && *narrow != 0; ++wide, ++narrow) {
        if (*wide != static_cast<unsigned char>(*narrow)) {
            return false;
        }
    }
    return *wide == 0 && *narrow == 0;
}

OutputMode ReadOutputMode(const char* device) {
    DISPLAYCONFIG_PATH_INFO paths[16];
    DISPLAYCONFIG_MODE_INFO modes[32];
    UINT32 pathCount = 0;
    UINT32 modeCount = 0;
    if (GetDisplayConfigBufferSizes(QDC_ONLY_ACTIVE_PATHS, &pathCount, &modeCount) !=
            ERROR_SUCCESS ||
        pathCount > 16 || modeCount > 32 ||
        QueryDisplayConfig(QDC_ONLY_ACTIVE_PATHS, &pathCount, paths, &modeCount, modes, nullptr) !=
            ERROR_SUCCESS) {
        return {};
    }
    for (UINT32 i = 0; i < pathCount; ++i) {
        DISPLAYCONFIG_SOURCE_DEVICE_NAME source{};
        source.header.type = DISPLAYCONFIG_DEVICE_INFO_GET_SOURCE_NAME;
        source.header.size = sizeof(source);
        source.header.adapterId = paths[i].sourceInfo.adapterId;
        source.header.id = paths[i].sourceInfo.id;
        if (DisplayConfigGetDeviceInfo(&source.header) != ERROR_SUCCESS ||
            !SameName(source.viewGdiDeviceName, device)) {
            continue;
        }
        OutputMode mode;
        const DISPLAYCONFIG_RATIONAL rate = paths[i].targetInfo.refreshRate;
        if (rate.Denominator != 0) {
            mode.rate = static_cast<double>(rate.Numerator) / rate.Denominator;
        }
        const UINT32 index = paths[i].targetInfo.modeInfoIdx;
        if (index < modeCount && modes[index].infoType == DISPLAYCONFIG_MODE_INFO_TYPE_TARGET) {
            const DISPLAYCONFIG_VIDEO_SIGNAL_INFO& signal =
                modes[index].targetMode.targetVideoSignalInfo;
            // NOTE: an interlaced output scans each field with half the lines: its line count
            // says nothing simple about time.
            if (signal.scanLineOrdering == DISPLAYCONFIG_SCANLINE_ORDERING_PROGRESSIVE &&
                signal.activeSize.cy < signal.totalSize.cy) {
                mode.visibleLines = signal.activeSize.cy;
                mode.totalLines = signal.totalSize.cy;
            }
        }
        return mode;
    }
    return {};
}

// The display mode's rate, a whole number (59 for 59.94 Hz), or 0.
double WholeRefreshRate(const char* device) {
    DEVMODEA mode{};
    mode.dmSize = sizeof(mode);
    // NOTE: 0 and 1 mean the hardware's default rate; Wine on a virtual display reads 0.
    if (EnumDisplaySettingsA(device, ENUM_CURRENT_SETTINGS, &mode) && mode.dmDisplayFrequency > 1) {
        return mode.dmDisplayFrequency;
    }
    return 0.0;
}

// The compositor's rate and its latest blank (performance-counter seconds), or false where there
// is no compositor.
bool ReadCompositorClock(double& rate, double& blank) {
    if (DwmGetCompositionTimingInfo == nullptr) {
        return false;
    }
    DWM_TIMING_INFO info{};
    info.cbSize = sizeof(info);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    // NOTE: the window handle must be null from Windows 8.1 on; Windows 7 takes null too.
    if (FAILED(DwmGetCompositionTimingInfo(nullptr, &info)) || info.qpcVBlank == 0) {
        return false;
    }
    // The ratio is what the display was set to; the measured period in counter ticks is noisy.
    const UNSIGNED_RATIO ratio = info.rateRefresh;
    rate = ratio.uiDenominator != 0 ? static_cast<double>(ratio.uiNumerator) / ratio.uiDenominator
                                    : 0.0;
    blank = static_cast<double>(info.qpcVBlank) / static_cast<double>(frequency.QuadPart);
    return rate > 1.0;
}

// The compositor is only the window's clock where it runs at the window's monitor's rate.
bool AgreesWithMonitor(double compositorRate, double monitorRate, bool exact) {
    if (monitorRate <= 1.0) {
        return true; // the monitor does not say: the compositor is the best there is
    }
    return exact ? std::fabs(compositorRate - monitorRate) <= 0.005 * monitorRate
                 : std::fabs(compositorRate - monitorRate) < 1.0;
}

// The refreshes in `seconds`, rounded down (below zero too).
long long WholeRefreshes(double seconds, double period) {
    const double refreshes = seconds / period;
    const auto whole = static_cast<long long>(refreshes); // towards zero
    return static_cast<double>(whole) > refreshes ? whole - 1 : whole;
}

void CloseOutput(DisplayTiming& timing) {
    if (timing.adapter != 0) {
        const KmtCloseAdapter output{timing.adapter};
        D3DKMTCloseAdapter(&output);
    }
    timing.adapter = 0;
    timing.outputId = 0;
    timing.visibleLines = 0;
    timing.totalLines = 0;
}

bool ReadScanLine(const DisplayTiming& timing, UINT& line) {
    KmtGetScanLine query{};
    query.hAdapter = timing.adapter;
    query.VidPnSourceId = timing.outputId;
    if (D3DKMTGetScanLine(&query) != 0 || query.ScanLine >= timing.totalLines) {
        return false;
    }
    line = query.ScanLine;
    return true;
}

// Opens the output of the monitor, where its scan line can be read and turned into time.
bool OpenOutput(const char* device, const OutputMode& mode, DisplayTiming& timing) {
    if (D3DKMTOpenAdapterFromGdiDisplayName == nullptr || D3DKMTGetScanLine == nullptr ||
        D3DKMTCloseAdapter == nullptr || mode.rate <= 1.0 || mode.totalLines == 0) {
        return false;
    }
    KmtOpenAdapterFromGdiDisplayName output{};
    for (int i = 0; i < 31 && device[i] != 0; ++i) {
        output.DeviceName[i] = static_cast<unsigned char>(device[i]);
    }
    if (D3DKMTOpenAdapterFromGdiDisplayName(&output) != 0) {
        return false;
    }
    timing.adapter = output.hAdapter;
    timing.outputId = output.VidPnSourceId;
    timing.visibleLines = mode.visibleLines;
    timing.totalLines = mode.totalLines;
    UINT line = 0;
    if (!ReadScanLine(timing, line)) { // a driver that cannot tell where its scan-out is
        CloseOutput(timing);
        return false;
    }
    return true;
}

} // namespace

void ReadDisplayTiming(HWND window, DisplayTiming& timing) {
    ReleaseDisplayTiming(timing);
    timing.monitor = MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFOEXA info{};
    info.cbSize = sizeof(info);
    const char* device = GetMonitorInfoA(timing.monitor, &info) ? info.szDevice : nullptr;
    const OutputMode mode = device != nullptr ? ReadOutputMode(device) : OutputMode{};
    const bool exact = mode.rate > 1.0;
    double rate = exact ? mode.rate : WholeRefreshRate(device);

    double compositorRate = 0.0;
    double compositorBlank = 0.0;
    if (device != nullptr && OpenOutput(device, mode, timing)) {
        timing.blanks = BlankSource::ScanLine;
    } else if (ReadCompositorClock(compositorRate, compositorBlank) &&
               AgreesWithMonitor(compositorRate, rate, exact)) {
        timing.blanks = BlankSource::Compositor;
        rate = exact ? rate : compositorRate; // its ratio is exact where the mode's is whole
    }
    timing.period = 1.0 / (rate > 1.0 ? rate : defaultRate);
}

double LatestBlank(DisplayTiming& timing, double now) {
    double blank = -1.0;
    UINT line = 0;
    double compositorRate = 0.0;
    if (timing.blanks == BlankSource::ScanLine && ReadScanLine(timing, line)) {
        // Lines since the blank began: the blank's lines follow the visible ones.
        // NOTE: a driver that gives line 0 all through the blank puts the blank at its end: at
        // most the blank's few lines late, well inside the frame's place in the refresh.
        const UINT sinceBlank =
            (line + timing.totalLines - timing.visibleLines) % timing.totalLines;
        blank = now - timing.period * sinceBlank / timing.totalLines;
    } else if (timing.blanks == BlankSource::Compositor &&
               !ReadCompositorClock(compositorRate, blank)) {
        blank = -1.0;
    }
    if (blank < 0.0) {
        blank = timing.lastBlank;
        if (blank < 0.0) {
            return -1.0;
        }
    }
    // The compositor reports a blank that may be refreshes old, and a source that stopped
    // answering none at all: count on to the latest one.
    blank += static_cast<double>(WholeRefreshes(now - blank, timing.period)) * timing.period;
    timing.lastBlank = blank;
    return blank;
}

bool MovedToAnotherMonitor(HWND window, const DisplayTiming& timing) {
    return MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY) != timing.monitor;
}

void ReleaseDisplayTiming(DisplayTiming& timing) {
    CloseOutput(timing);
    timing = DisplayTiming{};
}
