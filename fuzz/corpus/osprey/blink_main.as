opt subtitle "Vormak Software Wyvern Code Generator build 3884"

	processor	16F877A
clrc	macro
	bcf	status,0
	endm
clrz	macro
	bcf	status,2
	endm
setc	macro
	bsf	status,0
	endm
setz	macro
	bsf	status,2
	endm
skipc	macro
	btfss	status,0
	endm
skipz	macro
	btfss	status,2
	endm
skipnc	macro
	btfsc	status,0
	endm
skipnz	macro
	btfsc	status,2
	endm
indf	equ	0
indf0	equ	0
pc	equ	2
pcl	equ	2
status	equ	3
fsr	equ	4
fsr0	equ	4
c	equ	0
z	equ	2
pclath	equ	10
	psect config,class=CONFIG,delta=2 ;#
	dw 0x3FFE & 0x3FFB & 0x3F7F ;#
