# The console's login shell
[ -f ~/.bashrc ] && . ~/.bashrc
PS1='\u@\h:\w\$ '
cd
