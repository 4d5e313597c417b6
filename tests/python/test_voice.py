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
