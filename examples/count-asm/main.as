; Counts on PORTB of a PIC16F877A; written in assembly, so it goes through
; the whole chain today:  zeph --chip=16F877A --output=-mcof main.as
	FNCONF	fnauto0,??,?
	psect	maintext,class=CODE,delta=2
	global	_main
_main:
	bsf	3,5		; bank 1
	clrf	0x06		; TRISB: all outputs
	bcf	3,5		; bank 0
	clrf	_n
loop:
	incf	_n,f
	movf	_n,w
	movwf	0x06		; PORTB
	goto	loop
	psect	rbss_0,class=BANK0,space=1
_n:	ds	1
	psect	config,class=CONFIG,delta=2
	dw	0x3F3A		; HS oscillator, watchdog off
