#pragma once

#include <gtest/gtest.h>

#include "shell/state.h"
#include "support/gl_window.h"
#include "support/replacements.h"

// A real 800 x 600 window and current context of the tests' own, handed to the scene through
// the state record as the program's window code would.
class SceneOnContext : public ::testing::Test {
  protected:
    static constexpr int width = 800;
    static constexpr int height = 600;

    void SetUp() override {
        ASSERT_TRUE(CreateTestGLWindow(window, width, height));
        sceneState.hDC = window.hDC;
        sceneState.hRC = window.hRC;
    }

    void TearDown() override {
        DestroyTestGLWindow(window);
    }

    FreshState fresh;
    TestGLWindow window;
};
