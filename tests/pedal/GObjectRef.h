#pragma once

#include <glib-object.h>

#include <utility>

/** Owns one reference to a GObject. */
template <typename ObjectType>
class GObjectRef
{
public:
    GObjectRef() = default;

    /** Takes over a reference the caller already owns (a "transfer full" result). */
    static GObjectRef adopt (ObjectType* object) noexcept        { GObjectRef ref; ref.object = object; return ref; }

    /** Takes a new reference of its own. */
    static GObjectRef share (ObjectType* object) noexcept
    {
        if (object != nullptr)
            g_object_ref (object);

        return adopt (object);
    }

    GObjectRef (GObjectRef&& other) noexcept : object (std::exchange (other.object, nullptr)) {}

    GObjectRef& operator= (GObjectRef&& other) noexcept
    {
        if (this != &other)
        {
            reset();
            object = std::exchange (other.object, nullptr);
        }

        return *this;
    }

    GObjectRef (const GObjectRef& other) noexcept   { *this = share (other.object); }
    GObjectRef& operator= (const GObjectRef& other) noexcept    { return *this = share (other.object); }

    ~GObjectRef()                                   { reset(); }

    void reset() noexcept
    {
        if (auto* old = std::exchange (object, nullptr))
            g_object_unref (old);
    }

    ObjectType* get() const noexcept                { return object; }
    ObjectType* operator->() const noexcept         { return object; }
    explicit operator bool() const noexcept         { return object != nullptr; }

private:
    ObjectType* object = nullptr;
};
