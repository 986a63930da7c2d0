#include "xsession.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

Display *asDisplay(void *connection)
{
    return static_cast<Display *>(connection);
}

QString textProperty(Display *display, Window window, Atom property)
{
    Atom type = 0;
    int format = 0;
    unsigned long items = 0;
    unsigned long remaining = 0;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(display, window, property, 0, 1024, False, AnyPropertyType, &type, &format,
                           &items, &remaining, &data)
                != Success
        || !data) {
        return QString();
    }
    QString text;
    if (format == 8)
        text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(items));
    XFree(data);
    return text;
}

void collect(Display *display, Window window, const QString &title, QList<quint64> *found)
{
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable) {
        QString name = textProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False));
        if (name.isEmpty())
            name = textProperty(display, window, XA_WM_NAME);
        if (name == title)
            found->append(window);
    }
    Window root = 0;
    Window parent = 0;
    Window *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count))
        return;
    for (unsigned int i = 0; i < count; ++i)
        collect(display, children[i], title, found);
    if (children)
        XFree(children);
}

} // namespace

XSession::XSession(const QString &display)
    : connection(XOpenDisplay(display.toLocal8Bit().constData()))
{
}

XSession::~XSession()
{
    if (connection)
        XCloseDisplay(asDisplay(connection));
}

QList<quint64> XSession::windowsTitled(const QString &title) const
{
    QList<quint64> found;
    Display *display = asDisplay(connection);
    collect(display, DefaultRootWindow(display), title, &found);
    return found;
}

void XSession::closeWindow(quint64 window) const
{
    Display *display = asDisplay(connection);
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = Window(window);
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, Window(window), False, NoEventMask, &event);
    XFlush(display);
}

quint64 XSession::createCover() const
{
    Display *display = asDisplay(connection);
    const int screen = DefaultScreen(display);
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0,
                                              unsigned(DisplayWidth(display, screen)),
                                              unsigned(DisplayHeight(display, screen)), 0,
                                              BlackPixel(display, screen), WhitePixel(display, screen));
    XStoreName(display, window, "cover");
    XMapRaised(display, window);
    XSync(display, False);
    return window;
}

int XSession::stackingIndex(quint64 window) const
{
    Display *display = asDisplay(connection);
    Window root = 0;
    Window parent = 0;
    Window *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count))
        return -1;
    int index = -1;
    for (unsigned int i = 0; i < count; ++i) {
        if (children[i] == Window(window))
            index = int(i);
    }
    if (children)
        XFree(children);
    return index;
}

quint64 XSession::inputFocus() const
{
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(asDisplay(connection), &focus, &revert);
    return focus;
}
