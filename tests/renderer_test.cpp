#include <gtest/gtest.h>

#include <windows.h>
#include <mmsystem.h>

#include <GL/gl.h>
#include <GL/glu.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "scene/extensions.h"
#include "scene/point_field.h"
#include "scene/renderer.h"
#include "shell/settings.h"
#include "support/replacements.h"
#include "support/scene_fixture.h"

namespace {

constexpr int pointCount = StartupSettings::pointCount;
constexpr double pi = 3.14159265358979323846;

// The perspective matrix computed here from its definition, column-major as OpenGL keeps it.
std::vector<double> PerspectiveMatrix(double fovyDegrees, double aspect, double zNear,
                                      double zFar) {
    const double f = 1.0 / std::tan(fovyDegrees * pi / 360.0);
    std::vector<double> m(16, 0.0);
    m[0] = f / aspect;
    m[5] = f;
    m[10] = (zFar + zNear) / (zNear - zFar);
    m[11] = -1.0;
    m[14] = 2.0 * zFar * zNear / (zNear - zFar);
    return m;
}

void ExpectProjection(double aspect) {
    GLdouble actual[16];
    glGetDoublev(GL_PROJECTION_MATRIX, actual);
    const std::vector<double> expected = PerspectiveMatrix(55.0, aspect, 1.0, 100.0);
    for (int i = 0; i < 16; ++i) {
        EXPECT_NEAR(actual[i], expected[i], 1e-5) << "element " << i;
    }
}

void ExpectViewport(int x, int y, int width, int height) {
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[0], x);
    EXPECT_EQ(viewport[1], y);
    EXPECT_EQ(viewport[2], width);
    EXPECT_EQ(viewport[3], height);
}

// Every point of the field at the same model position, except that all but one sit behind the
// near plane, so one sprite is drawn.
std::unique_ptr<SpritePoint[]> OneVisiblePoint(float x, float y, float z) {
    std::unique_ptr<SpritePoint[]> field(new SpritePoint[pointCount]);
    for (int i = 0; i < pointCount; ++i) {
        field[i] = SpritePoint{0.0f, 0.0f, 15.0f}; // eye distance 0.15 after its step: clipped
    }
    field[0] = SpritePoint{x, y, z};
    return field;
}

// What the attenuation should make of the 30-pixel sprite at eye distance d.
double AttenuatedSize(double d) {
    const double size = 30.0 * std::sqrt(1.0 / (0.25 + 0.05 * d * d));
    return size < 0.1 ? 0.1 : (size > 30.0 ? 30.0 : size);
}

bool IsBlack(const std::uint8_t* p) {
    return p[0] == 0 && p[1] == 0 && p[2] == 0;
}

} // namespace

class Renderer : public SceneOnContext {};

TEST_F(Renderer, InitGLSetsTheFixedStateAndBuildsTheField) {
    Replacements replaced({"MessageBoxA"});
    InitGL();
    EXPECT_TRUE(calls.boxes.empty());

    GLint shadeModel = 0;
    glGetIntegerv(GL_SHADE_MODEL, &shadeModel);
    EXPECT_EQ(shadeModel, GL_SMOOTH);
    EXPECT_TRUE(glIsEnabled(GL_POINT_SMOOTH));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_TRUE(glIsEnabled(GL_BLEND));

    GLfloat clearColor[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clearColor);
    EXPECT_EQ(clearColor[0], 0.0f);
    EXPECT_EQ(clearColor[1], 0.0f);
    EXPECT_EQ(clearColor[2], 0.0f);
    EXPECT_EQ(clearColor[3], 0.5f);
    GLdouble clearDepth = 0.0;
    glGetDoublev(GL_DEPTH_CLEAR_VALUE, &clearDepth);
    EXPECT_EQ(clearDepth, 1.0);

    GLint depthFunc = 0, hint = 0, blendSrc = 0, blendDst = 0;
    glGetIntegerv(GL_DEPTH_FUNC, &depthFunc);
    glGetIntegerv(GL_PERSPECTIVE_CORRECTION_HINT, &hint);
    glGetIntegerv(GL_BLEND_SRC, &blendSrc);
    glGetIntegerv(GL_BLEND_DST, &blendDst);
    EXPECT_EQ(depthFunc, GL_LEQUAL);
    EXPECT_EQ(hint, GL_NICEST);
    EXPECT_EQ(blendSrc, GL_ONE); // no blend function is set: the default stays
    EXPECT_EQ(blendDst, GL_ZERO);

    ASSERT_NE(sceneState.pointField, nullptr);
    for (int i = 0; i < pointCount; ++i) {
        const SpritePoint& p = sceneState.pointField[i];
        EXPECT_TRUE(p.x >= -5 && p.x <= 5 && p.y >= -5 && p.y <= 5 && p.z >= -15 && p.z <= 15)
            << "point " << i;
    }
}

TEST_F(Renderer, InitGLAsksForOneSwapPerRefresh) {
    if (!DriverReports("WGL_EXT_swap_control")) {
        GTEST_SKIP() << "the driver has no WGL_EXT_swap_control: its own swap interval stays "
                        "(WithoutTheExtensionEverySpriteHasTheBaseSize)";
    }
    auto getInterval = reinterpret_cast<PFNWGLGETSWAPINTERVALEXTPROC>(
        reinterpret_cast<void (*)()>(wglGetProcAddress("wglGetSwapIntervalEXT")));
    auto setInterval = reinterpret_cast<PFNWGLSWAPINTERVALEXTPROC>(
        reinterpret_cast<void (*)()>(wglGetProcAddress("wglSwapIntervalEXT")));
    ASSERT_NE(getInterval, nullptr);
    ASSERT_NE(setInterval, nullptr);
    setInterval(0);
    ASSERT_EQ(getInterval(), 0);
    InitGL();
    EXPECT_EQ(getInterval(), 1);
}

TEST_F(Renderer, InitGLSeedsTheFieldFromTheSystemClock) {
    const DWORD before = timeGetTime();
    InitGL();
    const DWORD after = timeGetTime();
    ASSERT_NE(sceneState.pointField, nullptr);

    bool reproduced = false;
    for (DWORD seed = before; seed <= after && !reproduced; ++seed) {
        SeedRandom(seed);
        auto candidate = BuildPointField(pointCount);
        reproduced = std::memcmp(candidate.get(), sceneState.pointField.get(),
                                 sizeof(SpritePoint) * pointCount) == 0;
    }
    EXPECT_TRUE(reproduced) << "no clock reading between " << before << " and " << after;
}

TEST_F(Renderer, ResizeSceneSetsViewportAndPerspective) {
    wglMakeCurrent(nullptr, nullptr); // it makes the program's context current itself
    ResizeScene(800, 600);
    ASSERT_EQ(wglGetCurrentContext(), window.hRC);
    ExpectViewport(0, 0, 800, 600);
    ExpectProjection(800.0 / 600.0);

    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
    GLdouble modelView[16];
    glGetDoublev(GL_MODELVIEW_MATRIX, modelView);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(modelView[i], i % 5 == 0 ? 1.0 : 0.0);
    }

    ResizeScene(1600, 600);
    ExpectViewport(0, 0, 1600, 600);
    ExpectProjection(1600.0 / 600.0); // 2.667, the same vertical field of view

    ResizeScene(640, 0);
    ExpectViewport(0, 0, 640, 1);
    ExpectProjection(640.0);
}

TEST_F(Renderer, ResizeSceneWithoutAContextDoesNothingHarmful) {
    sceneState.hRC = nullptr;
    ResizeScene(800, 600);
    EXPECT_EQ(wglGetCurrentContext(), nullptr);
}

TEST_F(Renderer, DrawSceneSetsThePointSpriteState) {
    if (!DriverReports("GL_ARB_point_parameters") || !DriverReports("GL_ARB_point_sprite")) {
        GTEST_SKIP() << "the driver lacks GL_ARB_point_parameters or GL_ARB_point_sprite: there is "
                        "no point-sprite state to read";
    }
    ResizeScene(width, height);
    InitGL();
    DrawScene();

    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_TRUE(glIsEnabled(GL_POINT_SPRITE_ARB));
    GLfloat size = 0, minimum = 0, maximum = 0, attenuation[3] = {};
    glGetFloatv(GL_POINT_SIZE, &size);
    glGetFloatv(GL_POINT_SIZE_MIN_ARB, &minimum);
    glGetFloatv(GL_POINT_SIZE_MAX_ARB, &maximum);
    glGetFloatv(GL_POINT_DISTANCE_ATTENUATION_ARB, attenuation);
    EXPECT_EQ(size, 30.0f);
    EXPECT_EQ(minimum, 0.1f);
    EXPECT_EQ(maximum, 30.0f);
    EXPECT_EQ(attenuation[0], 0.25f);
    EXPECT_EQ(attenuation[1], 0.0f);
    EXPECT_EQ(attenuation[2], 0.05f);

    GLfloat color[4];
    glGetFloatv(GL_CURRENT_COLOR, color);
    EXPECT_EQ(color[0], 0.0f);
    EXPECT_EQ(color[1], 1.0f);
    EXPECT_EQ(color[2], 0.0f);

    GLfloat modelView[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, modelView);
    EXPECT_EQ(modelView[14], -15.0f);
    EXPECT_EQ(modelView[12], 0.0f);
    EXPECT_EQ(modelView[13], 0.0f);
}

TEST_F(Renderer, DrawSceneSubmitsEveryPointOnlyAfterItsStep) {
    ResizeScene(width, height);
    InitGL();
    // Points spread through the visible part of the box, so that none is clipped.
    sceneState.pointField.reset(new SpritePoint[pointCount]);
    std::vector<SpritePoint> placed(pointCount);
    for (int i = 0; i < pointCount; ++i) {
        const float s = (i % 21 - 10) / 25.0f;
        placed[i] = SpritePoint{s, -s * 0.7f, -14.0f + i * 0.09f};
        sceneState.pointField[i] = placed[i];
    }

    std::vector<GLfloat> feedback(pointCount * 4 + 64);
    glFeedbackBuffer(static_cast<GLsizei>(feedback.size()), GL_3D, feedback.data());
    glRenderMode(GL_FEEDBACK);
    DrawScene();
    const GLint values = glRenderMode(GL_RENDER);
    ASSERT_EQ(values, pointCount * 4);

    GLdouble modelView[16], projection[16];
    GLint viewport[4];
    glGetDoublev(GL_MODELVIEW_MATRIX, modelView);
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    glGetIntegerv(GL_VIEWPORT, viewport);
    for (int i = 0; i < pointCount; ++i) {
        const GLfloat* token = &feedback[i * 4];
        ASSERT_EQ(token[0], static_cast<GLfloat>(GL_POINT_TOKEN));
        SpritePoint stepped = placed[i];
        StepPoint(stepped);
        EXPECT_EQ(sceneState.pointField[i].z, stepped.z) << "point " << i;

        GLdouble wx, wy, wz, px, py, pz;
        gluProject(stepped.x, stepped.y, stepped.z, modelView, projection, viewport, &wx, &wy, &wz);
        gluProject(placed[i].x, placed[i].y, placed[i].z, modelView, projection, viewport, &px, &py,
                   &pz);
        EXPECT_NEAR(token[1], wx, 1e-2) << "point " << i;
        EXPECT_NEAR(token[2], wy, 1e-2) << "point " << i;
        EXPECT_NEAR(token[3], wz, 1e-6) << "point " << i;
        EXPECT_GT(std::fabs(token[3] - pz), 1e-5) << "point " << i << " drawn where it was placed";
    }
}

TEST_F(Renderer, AFrameIsPureGreenSpritesOnBlack) {
    ResizeScene(width, height);
    InitGL();
    DrawScene();
    const Pixels frame = ReadBackBuffer(width, height);

    int lit = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* p = frame.At(x, y);
            if (IsBlack(p)) {
                continue;
            }
            ++lit;
            ASSERT_EQ(p[0], 0) << "at " << x << "," << y;
            ASSERT_EQ(p[2], 0) << "at " << x << "," << y;
            ASSERT_EQ(p[1], 255) << "at " << x << "," << y;
        }
    }
    EXPECT_GT(lit, 1000);
    EXPECT_LT(lit, width * height / 2);
}

// A sprite on the line of sight, where every driver agrees on the eye distance. A driver without
// the extension draws it 30 pixels across at every distance.
TEST_F(Renderer, SpriteWidthFollowsTheDistanceAttenuationWhereTheDriverHasIt) {
    const bool attenuated = DriverReports("GL_ARB_point_parameters");
    ResizeScene(width, height);
    InitGL();
    for (double distance : {3.0, 10.0, 30.0}) {
        // Placed one step nearer, since the frame moves it before drawing it.
        const float z = static_cast<float>(15.0 - distance + 0.15);
        sceneState.pointField = OneVisiblePoint(0.0f, 0.0f, z);
        DrawScene();
        const int measured = WidestLitRun(ReadBackBuffer(width, height));
        EXPECT_NEAR(measured,
                    std::fmin(attenuated ? AttenuatedSize(distance) : 30.0, WidestPoint()), 1.0)
            << "eye distance " << distance << (attenuated ? "" : ", no GL_ARB_point_parameters");
    }
}

// As on a driver that reports neither extension: no message, the driver's own swap interval, and
// every point at the base size, 30 pixels, or the widest the driver draws.
TEST_F(Renderer, WithoutTheExtensionEverySpriteHasTheBaseSize) {
    const auto getInterval = reinterpret_cast<PFNWGLGETSWAPINTERVALEXTPROC>(
        reinterpret_cast<void (*)()>(wglGetProcAddress("wglGetSwapIntervalEXT")));
    const auto setInterval = reinterpret_cast<PFNWGLSWAPINTERVALEXTPROC>(
        reinterpret_cast<void (*)()>(wglGetProcAddress("wglSwapIntervalEXT")));
    if (setInterval != nullptr) {
        setInterval(0); // the driver's own, which must stay
    }
    {
        Replacements replaced({"wglGetProcAddress", "MessageBoxA"});
        FailAt("wglGetProcAddress", 0);
        ResizeScene(width, height);
        InitGL();
    }
    ASSERT_EQ(glPointParameterfARB, nullptr);
    ASSERT_EQ(glPointParameterfvARB, nullptr);
    ASSERT_EQ(wglSwapIntervalEXT, nullptr);
    EXPECT_TRUE(calls.boxes.empty()) << DescribeBoxes(calls.boxes);
    if (getInterval != nullptr) {
        EXPECT_EQ(getInterval(), 0) << "the swap interval was set without the extension";
    }

    for (double distance : {3.0, 30.0}) {
        sceneState.pointField =
            OneVisiblePoint(0.0f, 0.0f, static_cast<float>(15.0 - distance + 0.15));
        DrawScene();
        EXPECT_NEAR(WidestLitRun(ReadBackBuffer(width, height)), WidestPoint(), 1.0)
            << "eye distance " << distance;
    }
}
