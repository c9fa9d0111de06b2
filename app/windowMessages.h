#ifndef WINDOWMESSAGES_H
#define WINDOWMESSAGES_H

class QObject;

/*
 * Lets Qt's event loop deliver KIV's messages to the driver's message window
 * while the program runs. On Windows Qt's loop dispatches them already; here
 * they wait in the platform layer's queue, and a notifier on its descriptor
 * dispatches them. The notifier lives as long as owner.
 */
void serveWindowMessages(QObject* owner);

#endif /* WINDOWMESSAGES_H */
