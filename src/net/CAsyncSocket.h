#pragma once

#include <memory>
#include <sys/socket.h>

class QSocketNotifier;

// A raw non-blocking BSD socket whose readiness reaches the derived class on the GUI thread as the six
// notifications of an asynchronous socket. Like the classic asynchronous socket, a read notification is
// given again only after the socket was read (Receive/ReceiveFrom/Accept), and a write notification only
// after a connect or a send that would block, so an owner that pauses reading costs nothing.
// Every failing call returns false or -1 and leaves its errno in LastError().
class CAsyncSocket {
public:
    CAsyncSocket();
    CAsyncSocket(const CAsyncSocket&) = delete;
    CAsyncSocket& operator=(const CAsyncSocket&) = delete;
    virtual ~CAsyncSocket();

    // Makes a new non-blocking socket with all notifications on.
    bool Create(int family, int type, int protocol);
    // Takes over an existing descriptor (made non-blocking) with all notifications on.
    bool Attach(int descriptor);
    bool IsOpen() const { return m_fd >= 0; }
    int Handle() const { return m_fd; }
    int LastError() const { return m_lastError; }

    bool Bind(const sockaddr* address, socklen_t length);
    bool Listen(int backlog);
    // True when the connect finished or is in progress (the result then arrives as OnConnect).
    bool Connect(const sockaddr* address, socklen_t length);
    // Accepts a pending connection into `into` (which must be closed); the peer address is optional.
    bool Accept(CAsyncSocket& into, sockaddr* address = nullptr, socklen_t* length = nullptr);
    int Receive(void* buffer, int length, int flags = 0);
    int ReceiveFrom(void* buffer, int length, sockaddr* from, socklen_t* fromLength, int flags = 0);
    int Send(const void* data, int length, int flags = 0);
    int SendTo(const void* data, int length, const sockaddr* to, socklen_t toLength, int flags = 0);
    bool SetOption(int level, int name, int value);
    void Close();

protected:
    // The notifications; the error code is 0 or an errno value.
    virtual void OnReceive(int error);
    virtual void OnSend(int error);
    virtual void OnOutOfBandData(int error);
    virtual void OnAccept(int error);
    virtual void OnConnect(int error);
    virtual void OnClose(int error);

private:
    int m_fd = -1;
    int m_lastError = 0;
    // Implementation state (notifiers, listening/connecting flags) is the implementation's own.
    struct Watch;
    std::unique_ptr<Watch> m_watch;
};
