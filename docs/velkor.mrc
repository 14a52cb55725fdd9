; velkor.mrc: the mIRC remote event that hands channel lines to velkor over DDE.
; Install: copy this file next to mirc.exe (or give its full path) and type in mIRC
;   /load -rs velkor.mrc
; or paste the event line below into the Scripts Editor (Alt+R, Remote tab).
; Then /ddeserver on and /remote on.
;
; The event forwards only lines that look like velkor's wire texts: one word, a digit
; 0 to 2 followed by armour characters ("!" to "_" and the backquote). Anything else a
; channel member types is never handed to /dde.
on $1:TEXT:/^[0-2][!-_`]+$/:#:/dde velkor velkor "" $chan $nick $1-

; For channels where people also chat in the clear through velkor, the event below
; forwards every line instead. mIRC may evaluate /dde's parameters a second time, so a
; line holding $identifiers or %variables could then run inside your mIRC: use it only
; with people you trust. Remove the leading ";" to use it, and put one in front of the
; event above.
; on 1:TEXT:*:#:/dde velkor velkor "" $chan $nick $1-
