#pragma once

#include <glib-object.h>

#include <memory>

namespace velvox {

// One reference to a GObject, let go once whichever way its owner ends: for
// members, containers and returned values, where g_autoptr (a local's cleanup)
// cannot go, and for types whose headers declare no cleanup.
struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using OwnedObject = std::unique_ptr<T, ObjectUnref>;

}  // namespace velvox
