#include "scene/renderer.h"

#include <windows.h>
#include <mmsystem.h>

#include <GL/gl.h>
#include <GL/glu.h>

#include "scene/extensions.h"
#include "scene/point_field.h"
#include "scene/system_libraries.h"
#include "shell/settings.h"
#include "shell/state.h"

namespace {

constexpr GLfloat viewDistance = -15.0f;
constexpr GLfloat basePointSize = 30.0f;
constexpr GLfloat minimumPointSize = 0.1f;
constexpr GLfloat maximumPointSize = 30.0f;

} // namespace

void InitGL() {
    glShadeModel(GL_SMOOTH);
    glEnable(GL_POINT_SMOOTH);
    glClearColor(0.0f, 0.0f, 0.0f, 0.5f);
    glClearDepth(1.0);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_BLEND); // with the default blend function
    glDepthFunc(GL_LEQUAL);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);

    if (!GLeeInit()) {
        MessageBoxA(nullptr, "GLEE Extension Manager Failed to Initialize", "InitGL Error", MB_OK);
    }
    // Without the extension the driver's own swap interval stays.
    if (wglSwapIntervalEXT != nullptr) {
        wglSwapIntervalEXT(1);
    }

    SeedRandom(timeGetTime());
    sceneState.pointField = BuildPointField(StartupSettings::pointCount);
}

void ResizeScene(int width, int height) {
    // Also called from window creation before the context exists: with hRC null this leaves no
    // context current and the calls below do nothing.
    wglMakeCurrent(sceneState.hDC, sceneState.hRC);

    if (height == 0) {
        height = 1; // the aspect ratio divides by it
    }
    glViewport(0, 0, width, height);

    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(static_cast<double>(StartupSettings::fieldOfView),
                   static_cast<double>(width) / static_cast<double>(height),
                   static_cast<double>(StartupSettings::nearPlane),
                   static_cast<double>(StartupSettings::farPlane));

    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void DrawScene() {
    glDisable(GL_TEXTURE_2D);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity(); // the model-view matrix, left selected by ResizeScene
    glTranslatef(0.0f, 0.0f, viewDistance);
    glColor3f(0.0f, 1.0f, 0.0f);

    glEnable(GL_POINT_SPRITE_ARB);
    glPointSize(basePointSize);
    // Without GL_ARB_point_parameters the entry points are null and every point stays at the
    // base size.
    if (glPointParameterfARB != nullptr) {
        glPointParameterfARB(GL_POINT_SIZE_MIN_ARB, minimumPointSize);
        glPointParameterfARB(GL_POINT_SIZE_MAX_ARB, maximumPointSize);
    }
    if (glPointParameterfvARB != nullptr) {
        glPointParameterfvARB(GL_POINT_DISTANCE_ATTENUATION_ARB, StartupSettings::attenuation);
    }

    SpritePoint* field = sceneState.pointField.get();
    glBegin(GL_POINTS);
    if (field != nullptr) {
        // The motion is folded into the submission so the array is walked once per frame.
        for (int i = 0; i < StartupSettings::pointCount; ++i) {
            StepPoint(field[i]);
            glVertex3f(field[i].x, field[i].y, field[i].z);
        }
    }
    glEnd();
}
