#include <gtest/gtest.h>

#include <cstring>

#include "scene/extensions.h"
#include "scene/renderer.h"
#include "shell/settings.h"
#include "support/replacements.h"
#include "support/scene_fixture.h"

namespace {

PROC WINAPI NotAnEntryPoint(LPCSTR) {
    return nullptr;
}

} // namespace

TEST(ExtensionNames, MatchWholeNamesOnly) {
    const char* list = "GL_ARB_point_parameters_x GL_EXT_foo WGL_EXT_swap_control_tear";
    EXPECT_FALSE(HasExtension(list, "GL_ARB_point_parameters"));
    EXPECT_FALSE(HasExtension(list, "WGL_EXT_swap_control"));
    EXPECT_FALSE(HasExtension(list, "EXT_foo"));
    EXPECT_TRUE(HasExtension(list, "GL_EXT_foo"));
    EXPECT_TRUE(HasExtension("A_x A", "A"));
    EXPECT_TRUE(HasExtension("A", "A"));
    EXPECT_FALSE(HasExtension("", "A"));
    EXPECT_FALSE(HasExtension(nullptr, "A"));
    EXPECT_FALSE(HasExtension("A", ""));
}

TEST(ExtensionLoading, FailsWithoutACurrentContextAndLeavesEveryEntryPointNull) {
    wglMakeCurrent(nullptr, nullptr);
    // A stale pointer from an earlier load must not survive a failed one.
    glPointParameterfARB = reinterpret_cast<PFNGLPOINTPARAMETERFARBPROC>(
        reinterpret_cast<void (*)()>(&NotAnEntryPoint));
    EXPECT_FALSE(GLeeInit());
    EXPECT_EQ(glPointParameterfARB, nullptr);
    EXPECT_EQ(glPointParameterfvARB, nullptr);
    EXPECT_EQ(wglSwapIntervalEXT, nullptr);
}

using ExtensionLoadingOnContext = SceneOnContext;

TEST_F(ExtensionLoadingOnContext, SetsAllThreeEntryPointsOnADriverThatReportsBoth) {
    if (!DriverReports("GL_ARB_point_parameters") || !DriverReports("WGL_EXT_swap_control")) {
        GTEST_SKIP() << "the driver lacks GL_ARB_point_parameters or WGL_EXT_swap_control";
    }
    ASSERT_TRUE(GLeeInit());
    EXPECT_NE(glPointParameterfARB, nullptr);
    EXPECT_NE(glPointParameterfvARB, nullptr);
    ASSERT_NE(wglSwapIntervalEXT, nullptr);

    // The pointers reach the driver: what they set can be read back.
    glPointParameterfARB(GL_POINT_SIZE_MAX_ARB, 7.0f);
    GLfloat maximum = 0.0f;
    glGetFloatv(GL_POINT_SIZE_MAX_ARB, &maximum);
    EXPECT_EQ(maximum, 7.0f);
}

TEST_F(ExtensionLoadingOnContext, FallsBackOnTheExtQueryForTheWglExtensionString) {
    if (!DriverReports("WGL_EXT_swap_control")) {
        GTEST_SKIP() << "the driver has no WGL_EXT_swap_control to find in its extension string";
    }
    Replacements replaced({"wglGetProcAddress"});
    FailAt("wglGetProcAddress", 1); // the first query is the ARB one
    ASSERT_TRUE(GLeeInit());
    const std::vector<Call> queried = CallsOf("wglGetProcAddress");
    ASSERT_GE(queried.size(), 2u);
    EXPECT_EQ(queried[0].text, "wglGetExtensionsStringARB");
    EXPECT_EQ(queried[1].text, "wglGetExtensionsStringEXT");
    EXPECT_NE(wglSwapIntervalEXT, nullptr);
}

// Null, and the small integers and -1 that some drivers return instead for a name they do not
// know: none of them is an entry point.
TEST_F(ExtensionLoadingOnContext, LeavesEntryPointsNullWhenTheDriverGivesNone) {
    Replacements replaced({"wglGetProcAddress"});
    for (std::intptr_t none : {0, 1, 2, 3, -1}) {
        FailAt("wglGetProcAddress", 0, Fault::Refuse, none);
        EXPECT_TRUE(GLeeInit());
        EXPECT_EQ(glPointParameterfARB, nullptr) << none;
        EXPECT_EQ(glPointParameterfvARB, nullptr) << none;
        EXPECT_EQ(wglSwapIntervalEXT, nullptr) << none;
    }
}

TEST(ExtensionLoadingInInitGL, ReportsTheFailureAndStillBuildsTheField) {
    FreshState fresh;
    Replacements replaced({"MessageBoxA"});
    wglMakeCurrent(nullptr, nullptr);
    InitGL();

    ASSERT_EQ(calls.boxes.size(), 1u) << DescribeBoxes(calls.boxes);
    EXPECT_EQ(calls.boxes[0].text, "GLEE Extension Manager Failed to Initialize");
    EXPECT_EQ(calls.boxes[0].caption, "InitGL Error");
    EXPECT_EQ(calls.boxes[0].type, static_cast<UINT>(MB_OK));
    EXPECT_EQ(calls.boxes[0].owner, nullptr);

    ASSERT_NE(sceneState.pointField, nullptr);
    for (int i = 0; i < StartupSettings::pointCount; ++i) {
        EXPECT_GE(sceneState.pointField[i].z, -15.0f);
        EXPECT_LE(sceneState.pointField[i].z, 15.0f);
    }
}
