#pragma once
// Inside the transitions: the catalogue's entry type and the renderers of each family of effects,
// one file a family group (transition_masks.cpp, transition_blends.cpp, transition_moves.cpp).
// Callers use imaging/transitions.h, whose table of 128 effects dispatches to these.

#include "imaging/image.h"
#include "imaging/transitions.h"

namespace nimbrel::imaging::detail {

using F = TransitionFamily;

// One catalogue entry: a family and up to three parameters whose meaning the family gives.
struct Effect {
    const char* name;
    F family;
    int a = 0, b = 0, c = 0;
};

// Directions of wipes, slides and the like: where the new picture comes from.
enum Dir { kLeft, kRight, kTop, kBottom, kTopLeft, kTopRight, kBottomLeft, kBottomRight };

// Box and zoom anchors in halves of the screen: 0 left/top, 1 centre, 2 right/bottom.
inline constexpr int kAnchors[][2] = {{1, 1}, {1, 1}, {0, 0}, {2, 0}, {0, 2},
                                      {2, 2}, {1, 0}, {1, 2}, {0, 1}, {2, 1}};

// Each renderer draws rows [y0, y1) of the frame at t (0..1, already clamped) of `e` from `from`
// to `to` into `out`, which holds those rows of a frame of their size apart from them.
// They read the pictures through an Image or a PictureBand (instantiated for both); the mask
// families, dissolves and fades read rows [y0, y1) only.
template <class Rows>
void RenderMask(const Effect& e, const Rows& from, const Rows& to, double t, const FrameRows& out, int y0, int y1);
template <class Rows>
void RenderDissolve(const Effect& e, const Rows& from, const Rows& to, double t, const FrameRows& out, int y0, int y1);
template <class Rows>
void RenderFade(const Effect& e, const Rows& from, const Rows& to, double t, const FrameRows& out, int y0, int y1);
template <class Rows>
void RenderMove(const Effect& e, const Rows& from, const Rows& to, double t, const FrameRows& out, int y0, int y1);
template <class Rows>
void RenderScaled(const Effect& e, const Rows& from, const Rows& to, double t, const FrameRows& out, int y0, int y1);
// The rows of each picture that rows [y0, y1) of a w x h frame of a move or a zoom read.
void MoveRowsRead(const Effect& e, double t, int w, int h, int y0, int y1, RowRange& from, RowRange& to);
void ScaledRowsRead(const Effect& e, double t, int w, int h, int y0, int y1, RowRange& from, RowRange& to);

// Works out a dissolve's cell order for a size and block ahead of its first frame.
void PrepareDissolve(int width, int height, int block);

}  // namespace nimbrel::imaging::detail
