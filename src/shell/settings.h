#pragma once

// Every tunable value of the program, compiled in: there is no command line, configuration file,
// registry key or environment variable. Changing a setting means changing it here.
struct StartupSettings {
    static constexpr const char* windowTitle = "Tovren";
    static constexpr int windowWidth = 800;  // client area; also the fullscreen display width
    static constexpr int windowHeight = 600; // client area; also the fullscreen display height
    static constexpr int colorBits = 32;     // pixel format and fullscreen display depth

    // Projection: whole numbers, widened to double where the projection is set.
    static constexpr int fieldOfView = 55; // vertical, in degrees
    static constexpr int nearPlane = 1;
    static constexpr int farPlane = 100;

    static constexpr int pointCount = 300;

    // Constant, linear and quadratic coefficients of the point-size distance attenuation.
    static constexpr float attenuation[3] = {0.25f, 0.0f, 0.05f};
};
