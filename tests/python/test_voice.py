"""Voice frames received from the server reach the host as voice events."""
from tessel_client import Client


def test_received_frame_is_a_voice_event():
    client = Client("me")
    # The tag value is escaped on the line: "\s" is a space inside the frame.
    client.handle_bytes(
        b'@+vantaweb/rtc={"type":"joined","members":["me","bob"],"role":"viewer",'
        b'"turn":{"urls":"turn:relay","username":"u","password":"p\\sq"}} :bob!u@h TAGMSG $Stage\r\n'
        b'@+vantaweb/rtc={"type":"presence","member":"bob","state":"deaf-on"} :bob!u@h TAGMSG $stage\r\n'
        b'@+vantaweb/rtc={"type":"mic"} :bob!u@h TAGMSG $stage\r\n'
    )
    assert client.poll_events() == [
        {"type": "voice", "channel": "$Stage", "signal": {
            "type": "joined", "members": ["me", "bob"], "mode": None, "role": "viewer", "streamers": None,
            "turn": {"urls": ["turn:relay"], "username": "u", "password": "p q"}, "tracks": None}},
        {"type": "voice", "channel": "$stage", "signal": {
            "type": "presence", "member": "bob", "state": "deaf_on", "kind": None, "role": None}},
    ]


def test_sent_frame_reads_back_on_the_other_side():
    sender, receiver = Client("alice"), Client("bob")
    signal = {"type": "offer", "sdp": "v=0\r\ns=; x\\y", "tracks": [{"mid": "0", "member": "alice"}],
              "chunk": {"id": "c1", "seq": 0, "total": 2}}
    sender.send_voice_signal("#room", signal)
    line = sender.poll_transmit()
    assert line.startswith(b"@+vantaweb/rtc=") and line.endswith(b" TAGMSG #room\r\n")
    # As the server relays it: the same tags, with the sender as source.
    receiver.handle_bytes(line.replace(b" TAGMSG", b" :alice!u@h TAGMSG", 1))
    assert receiver.poll_events() == [{"type": "voice", "channel": "#room", "signal": signal}]
